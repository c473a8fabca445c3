#pragma once
// The windows' side of a mail check: what the check shows goes to the main
// window, the account window and the viewer's data, always on the window
// thread, while the check itself runs on a worker.

#include "core/viewer_data.h"
#include "mail/receive_mail.h"

#include <QElapsedTimer>
#include <QStringList>

#include <mutex>
#include <optional>
#include <vector>

namespace lumopet {

class ProgramWindows;

// Progress and the viewer's rows reach the windows at most about ten times
// a second, and without the check waiting for them: a thousand small
// messages would otherwise cost three hand-offs each. Whatever else the
// check shows (a message box, the account window) waits for the window
// thread as before, and takes what was pending along first, so the order
// never changes.
class WindowMailCheckHost : public MailCheckHost {
public:
    explicit WindowMailCheckHost(ProgramWindows& windows) : windows_(windows) {}

    void setHelpLine(const QString& text) override;
    void showProgress(int number, int count) override;
    void showArrived(int number, int count, int arrivedMB, int listedMB) override;
    void setAccountTexts(const QString& id, const QString& password) override;
    void showIdPassForm() override;
    void clearViewerList() override;
    void addViewerRow(const QString& subject, const QString& from, const QString& date) override;
    void showInViewer(const QString& subject, const QString& date, const QString& from, const QString& body) override;
    void showMessage(const QString& text, const QString& title) override;
    bool askToTrustCertificate(const CertificateDetails& details) override;

    // Puts what is pending into the windows now. On the window thread, at
    // the end of a check.
    void flushPending();

    // An automatic check asks nothing: what would be a message box, the
    // account window or the question whether to trust a certificate is
    // collected instead, for the main window to say once. Nor does it empty
    // the viewer's list when it finds no mail: every few minutes that would
    // take away the mail the last check found, or the history the user is
    // reading. Set on the window thread before the check starts.
    void setQuiet(bool quiet);
    bool quiet() const { return quiet_; }
    // What the quiet check collected, one text a message; empty when it
    // met no trouble. At the end of the check.
    QStringList takeCollected();

private:
    // Runs f on the window thread and waits, with what is pending put in
    // first.
    template <class F>
    void inOrder(F f);
    // Hands pending work to the window thread, no more often than the
    // interval, without waiting.
    void schedulePending();

    ProgramWindows& windows_;
    struct Pending {
        std::optional<QString> helpLine;
        bool clearRows = false;  // before the rows: a quiet check's first message
        std::vector<ViewerRow> rows;
        std::optional<ViewerData> shown;  // subject, date, from, body
        bool scheduled = false;
    };
    std::mutex mutex_;
    Pending pending_;
    QElapsedTimer sinceFlush_;  // since pending work last went to the windows
    bool quiet_ = false;
    QStringList collected_;       // under mutex_
    bool clearBeforeRow_ = false;  // under mutex_: a quiet check's list waits for its first message
};

}  // namespace lumopet
