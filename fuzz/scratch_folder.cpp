#include "fuzz/scratch_folder.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

namespace lumopet::fuzz {

ScratchFolder::ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumopet-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a scratch folder under " + pattern);
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

void RemoveTree(const std::filesystem::path& folder) {
    // remove_all removes a link, never what it points to.
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

}  // namespace lumopet::fuzz
