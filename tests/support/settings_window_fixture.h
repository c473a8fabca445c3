#pragma once
// The settings windows' tests: a program folder of their own, the other
// windows stood in for, and every message box written down and answered OK.

#include "core/program.h"
#include "tests/support/fake_windows.h"
#include "tests/support/temp_folder.h"
#include "ui/message_box.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumopet::test {

class SettingsWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.paths.createFolders());
        SetMessageAnswerer([this](const MessageRequest& request) {
            messages.push_back(request);
            return MessageAnswer::Ok;
        });
    }
    void TearDown() override { SetMessageAnswerer({}); }

    TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    FakeWindows windows{program};
    std::vector<MessageRequest> messages;
};

}  // namespace lumopet::test
