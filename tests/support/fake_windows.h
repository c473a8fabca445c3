#pragma once
// Stands in for ProgramWindows in the window tests: writes down what a
// window asked of the others.

#include "core/program.h"
#include "mail/transport/account_login.h"
#include "ui/window_directory.h"

#include <memory>
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
    void ShowAccountSetupForm() override { calls.push_back("ShowAccountSetupForm"); }
    AccountLogin& accountLogin() override {
        if (!accountLogin_) accountLogin_ = std::make_unique<AccountLogin>(program_);
        return *accountLogin_;
    }
    void ShowReceiveOptionsForm() override { calls.push_back("ShowReceiveOptionsForm"); }
    void ReceiveOptionsChanged() override { calls.push_back("ReceiveOptionsChanged"); }
    void CharacterOptionsChanged() override { calls.push_back("CharacterOptionsChanged"); }
    void ShowEnabledMoods(const MoodFlags& enabled) override {
        std::string moods;
        for (bool on : enabled) moods += on ? '1' : '0';
        calls.push_back("ShowEnabledMoods " + moods);
    }
    void SetPreviewInterval(int ms) override { calls.push_back("SetPreviewInterval " + std::to_string(ms)); }
    void ShowWriteForm() override { calls.push_back("ShowWriteForm"); }
    void ShowFriendForm() override { calls.push_back("ShowFriendForm"); }
    void ShowFriendFormWithAddress(const QString& address) override {
        calls.push_back("ShowFriendForm " + address.toStdString());
    }
    void ShowBackForm(const ReplySource& reply) override {
        calls.push_back("ShowBackForm " + reply.subject.toStdString() + " | " + reply.from.toStdString());
        lastReply = reply;
    }
    void ShowSignatureForm() override { calls.push_back("ShowSignatureForm"); }
    void ShowComposeOptionsForm() override { calls.push_back("ShowComposeOptionsForm"); }
    QWidget* MainWindow() override { return mainWindow; }
    void SetMainStatusLine(const QString& text) override { calls.push_back("SetMainStatusLine " + text.toStdString()); }
    void HoldCommands(QWidget*, bool hold) override { calls.push_back(hold ? "Hold" : "Release"); }
    bool IsCommandRunning() const override { return commandRunning; }
    Calls calls;
    ReplySource lastReply;
    // A window that stands in for the main window, when a test sets one.
    QWidget* mainWindow = nullptr;
    // A check or a send runs, when a test says so.
    bool commandRunning = false;

private:
    Program& program_;
    std::unique_ptr<AccountLogin> accountLogin_;
};

}  // namespace lumopet
