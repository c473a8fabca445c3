#pragma once
// The windows' side of a mail check: what the check shows goes to the main
// window, the account window and the viewer's data, always on the window
// thread, while the check itself runs on a worker.

#include "mail/receive_mail.h"

namespace lumopet {

class ProgramWindows;

class WindowMailCheckHost : public MailCheckHost {
public:
    explicit WindowMailCheckHost(ProgramWindows& windows) : windows_(windows) {}

    void setHelpLine(const QString& text) override;
    void showProgress(int number, int count) override;
    void setAccountTexts(const QString& id, const QString& password) override;
    void showIdPassForm() override;
    void clearViewerList() override;
    void addViewerRow(const QString& subject, const QString& from, const QString& date) override;
    void showInViewer(const QString& subject, const QString& date, const QString& from, const QString& body) override;
    void showMessage(const QString& text, const QString& title) override;

private:
    ProgramWindows& windows_;
};

}  // namespace lumopet
