#pragma once
// A fresh folder under $TMPDIR (else /tmp) for the checks to write into,
// removed with everything in it when the object goes.

#include <filesystem>

namespace lumopet::fuzz {

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Removes a folder and what it holds without following any link in it.
void RemoveTree(const std::filesystem::path& folder);

}  // namespace lumopet::fuzz
