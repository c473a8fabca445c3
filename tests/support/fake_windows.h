#pragma once
// Stands in for ProgramWindows in the window tests: writes down what a
// window asked of the others.

#include "core/program.h"
#include "ui/window_directory.h"

#include <string>
#include <vector>

namespace lumopet {

using Calls = std::vector<std::string>;

class FakeWindows : public WindowDirectory {
public:
    explicit FakeWindows(Program& program) : program_(program) {}
    Program& program() override { return program_; }
    void ShowOptionForm() override { calls.push_back("ShowOptionForm"); }
    void ShowIdPassForm() override { calls.push_back("ShowIdPassForm"); }
    void ShowEnabledMoods(const MoodFlags& enabled) override {
        std::string moods;
        for (bool on : enabled) moods += on ? '1' : '0';
        calls.push_back("ShowEnabledMoods " + moods);
    }
    void SetPreviewInterval(int ms) override { calls.push_back("SetPreviewInterval " + std::to_string(ms)); }
    void ShowWriteForm() override { calls.push_back("ShowWriteForm"); }
    void ShowFriendForm() override { calls.push_back("ShowFriendForm"); }
    void HoldCommands(QWidget*, bool hold) override { calls.push_back(hold ? "Hold" : "Release"); }
    bool IsCommandRunning() const override { return false; }
    Calls calls;

private:
    Program& program_;
};

}  // namespace lumopet
