#include "app/mail_check_host.h"

#include "app/MainForm.h"
#include "app/auto_check_report.h"
#include "app/program_windows.h"
#include "core/program.h"
#include "settings/IdPassForm.h"
#include "ui/certificate_window.h"
#include "ui/message_box.h"
#include "ui/window_thread.h"

#include <QLabel>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace lumopet {
namespace {

constexpr int kHandOffMilliseconds = 100;

}  // namespace

template <class F>
void WindowMailCheckHost::inOrder(F f) {
    OnWindowThread(windows_.mainForm(), [this, &f] {
        flushPending();
        f();
    });
}

void WindowMailCheckHost::flushPending() {
    Pending taken;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::swap(taken, pending_);
        sinceFlush_.start();
    }
    if (taken.helpLine) windows_.mainForm().ShowHelp(*taken.helpLine);
    ViewerData& viewer = windows_.program().viewer;
    if (taken.clearRows) {
        viewer.rows.clear();
        ++viewer.listedChecks;
    }
    for (ViewerRow& row : taken.rows) viewer.rows.push_back(std::move(row));
    if (taken.shown) {
        viewer.subject = taken.shown->subject;
        viewer.date = taken.shown->date;
        viewer.from = taken.shown->from;
        viewer.body = taken.shown->body;
        viewer.receivedRecordBody = taken.shown->body;
    }
}

// Called with the mutex held.
void WindowMailCheckHost::schedulePending() {
    if (pending_.scheduled) return;
    pending_.scheduled = true;
    const int wait = sinceFlush_.isValid()
                         ? static_cast<int>(std::max<qint64>(0, kHandOffMilliseconds - sinceFlush_.elapsed()))
                         : 0;
    MainForm& form = windows_.mainForm();
    QMetaObject::invokeMethod(&form, [this, &form, wait] { QTimer::singleShot(wait, &form, [this] { flushPending(); }); },
                              Qt::QueuedConnection);
}

void WindowMailCheckHost::setHelpLine(const QString& text) {
    inOrder([this, &text] { windows_.mainForm().ShowHelp(text); });
}

void WindowMailCheckHost::showProgress(int number, int count) {
    const std::lock_guard<std::mutex> lock(mutex_);
    pending_.helpLine = kCheckingText + QStringLiteral("（%1／%2 通目）").arg(number).arg(count);
    schedulePending();
}

void WindowMailCheckHost::showArrived(int number, int count, int arrivedMB, int listedMB) {
    const std::lock_guard<std::mutex> lock(mutex_);
    pending_.helpLine =
        kCheckingText + QStringLiteral("（%1／%2 通目、%3／%4 MB）").arg(number).arg(count).arg(arrivedMB).arg(listedMB);
    schedulePending();
}

void WindowMailCheckHost::setAccountTexts(const QString& id, const QString& password) {
    inOrder([this, &id, &password] { windows_.idPassForm().SetAccountTexts(id, password); });
}

void WindowMailCheckHost::setQuiet(bool quiet) {
    quiet_ = quiet;
    const std::lock_guard<std::mutex> lock(mutex_);
    collected_.clear();
    clearBeforeRow_ = false;
}

QStringList WindowMailCheckHost::takeCollected() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(collected_, {});
}

void WindowMailCheckHost::showIdPassForm() {
    if (quiet_) {
        const std::lock_guard<std::mutex> lock(mutex_);
        collected_ << kAutoCheckNoAccountText;
        return;
    }
    inOrder([this] { windows_.ShowIdPassForm(); });
}

void WindowMailCheckHost::clearViewerList() {
    if (quiet_) {
        const std::lock_guard<std::mutex> lock(mutex_);
        clearBeforeRow_ = true;
        return;
    }
    inOrder([this] {
        ViewerData& viewer = windows_.program().viewer;
        viewer.rows.clear();
        ++viewer.listedChecks;
    });
}

void WindowMailCheckHost::addViewerRow(const QString& subject, const QString& from, const QString& date) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (std::exchange(clearBeforeRow_, false)) {
        pending_.rows.clear();
        pending_.clearRows = true;
    }
    pending_.rows.push_back({subject, from, date});
    schedulePending();
}

void WindowMailCheckHost::showInViewer(const QString& subject, const QString& date, const QString& from,
                                       const QString& body) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ViewerData shown;
    shown.subject = subject;
    shown.date = date;
    shown.from = from;
    shown.body = body;
    pending_.shown = std::move(shown);
    schedulePending();
}

void WindowMailCheckHost::showMessage(const QString& text, const QString& title) {
    if (quiet_) {
        // A box without a title is a notice (a split message still
        // waiting for its parts, which its record says too), not trouble
        // to be said as a failed check.
        if (title.isEmpty()) return;
        const std::lock_guard<std::mutex> lock(mutex_);
        collected_ << text;
        return;
    }
    MainForm& form = windows_.mainForm();
    inOrder([&form, &text, &title] {
        ShowMessage(&form, {title.isEmpty() ? MessageKind::Notice : MessageKind::Error, text, title});
    });
}

bool WindowMailCheckHost::askToTrustCertificate(const CertificateDetails& details) {
    // Nobody has asked for this check: trust is the user's own answer, and
    // it waits for the next click on 受信.
    if (quiet_) {
        const std::lock_guard<std::mutex> lock(mutex_);
        collected_ << kAutoCheckCertificateText + QStringLiteral("\n%1\n%2").arg(details.hostPort, details.reason);
        return false;
    }
    MainForm& form = windows_.mainForm();
    CertificateAnswer answer = CertificateAnswer::Cancel;
    inOrder([&form, &details, &answer] { answer = AskToTrustCertificate(&form, details); });
    return answer == CertificateAnswer::Trust;
}

}  // namespace lumopet
