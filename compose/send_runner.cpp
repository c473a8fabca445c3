#include "compose/send_runner.h"

#include "compose/SendCheckForm.h"
#include "compose/send_check.h"
#include "core/settings_files/receive_options.h"
#include "core/clock_text.h"
#include "core/program.h"
#include "mail/send_stop.h"
#include "ui/certificate_window.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_thread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QLabel>
#include <QThread>
#include <QWidget>

namespace lumopet {
namespace {

// The boxes hold line breaks as LF; mail and the histories as CR LF.
QString WithoutCr(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

}  // namespace

Result<ComposeOptions> CurrentComposeOptions(const Program& program) {
    return ReadComposeOptions(program.paths.path(files::ProgramOptions));
}

bool LookBeforeSending(QWidget* window, const SendRequest& request, const QString& ownAddress,
                       bool confirmRecipients) {
    if (request.Attachments.isEmpty() && MentionsAttachment(request.SubjectText, request.BodyText) &&
        !AskMissingAttachment(window))
        return false;
    if (!confirmRecipients || request.Bulk) return true;
    return ConfirmRecipients(window, MakeSendCheck({request.ToText, request.CcText, request.BccText}, ownAddress,
                                                   request.Attachments));
}

template <class F>
void SendRunner::onWindowThread(F f) {
    OnWindowThread(*this, [this, f] {
        if (!abandoned_) f();
    });
}

// What the send shows, put on the window thread.
class SendRunner::Host : public SendHost {
public:
    explicit Host(SendRunner& runner) : runner_(runner) {}

    void setStatus(const QString& text) override {
        runner_.onWindowThread([this, text] {
            if (runner_.status_) runner_.status_->setText(text);
        });
    }
    void showProgress(int number, int count) override {
        const QString progress = QStringLiteral("（%1／%2 通目）").arg(number).arg(count);
        runner_.onWindowThread([this, progress] {
            if (runner_.status_)
                runner_.status_->setText((runner_.progressNote_.isEmpty() ? kSendingText : runner_.progressNote_) + progress);
        });
    }
    QString clockText() override { return ClockText(QDateTime::currentDateTime()); }
    void setBodyText(const QString& body) override {
        runner_.onWindowThread([this, body] { runner_.body_.setText(WithoutCr(body)); });
    }
    void showMessage(const QString& text, const QString& title) override {
        runner_.onWindowThread([this, text, title] {
            ShowMessage(&runner_.window_, {title.isEmpty() ? MessageKind::Notice : MessageKind::Error, text, title});
        });
    }
    bool askToTrustCertificate(const CertificateDetails& details) override {
        // A window that is going answers nothing: the certificate stays
        // untrusted.
        CertificateAnswer answer = CertificateAnswer::Cancel;
        runner_.onWindowThread([this, &details, &answer] { answer = AskToTrustCertificate(&runner_.window_, details); });
        return answer == CertificateAnswer::Trust;
    }

private:
    SendRunner& runner_;
};

SendRunner::SendRunner(QWidget& window, WindowDirectory& windows, QLabel* status, BodyBox body)
    : QObject(&window), window_(window), windows_(windows), status_(status), body_(std::move(body)),
      host_(std::make_unique<Host>(*this)) {
    // While a token is had for this send (a sign-in in the browser), its
    // status line says so.
    connect(&windows_.accountLogin(), &AccountLogin::statusText, this, [this](const QString& text) {
        if (preparing_ && status_) status_->setText(text);
    });
}

SendRunner::~SendRunner() {
    if (!thread_) return;
    abandoned_ = true;
    // The end of the send is no news to a window that is going.
    thread_->disconnect(this);
    // The worker may be waiting for this thread to show something; this
    // thread must serve it while it waits here, or neither goes on.
    while (!thread_->wait(QDeadlineTimer(20))) QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    delete thread_;
}

void SendRunner::start(const SendRequest& request) {
    if (thread_ || preparing_) return;
    typedBody_ = body_.text();
    windows_.HoldCommands(&window_, true);
    holdControls(true);
    // Made here, on the window thread (a token may need a refresh, or a
    // sign-in in the browser first): the worker gets the login as a value.
    preparing_ = true;
    windows_.accountLogin().prepare(true, [self = QPointer<SendRunner>(this), request](const LoginAnswer& answer) {
        if (self) self->run(request, answer);
    });
}

void SendRunner::run(const SendRequest& request, const LoginAnswer& answer) {
    preparing_ = false;
    if (answer.tokenMissing()) {
        // No token to send with: nothing was recorded or sent.
        ShowMessage(&window_, {MessageKind::Error, answer.text, QStringLiteral("送信エラー")});
        result_ = SendResult{};
        result_.Refused = true;
        finish();
        return;
    }
    Program& program = windows_.program();
    // The account's one login serves SMTP and POP before SMTP.
    thread_ = QThread::create([this, &program, request, login = answer.credentials] {
        result_ = SendMail(program, request, *host_, login, login);
    });
    connect(thread_, &QThread::finished, this, &SendRunner::done);
    thread_->start();
}

bool SendRunner::requestStop() {
    if (!thread_) return false;
    mail::RequestSendStop();
    return true;
}

void SendRunner::holdControls(bool hold) {
    if (!hold) {
        for (const QPointer<QWidget>& control : heldControls_)
            if (control) control->setEnabled(true);
        heldControls_.clear();
        return;
    }
    // Nothing but the status line takes input while the messages go out.
    for (QWidget* child : window_.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->isEnabled()) continue;
        if (status_ && (child == status_ || child->isAncestorOf(status_))) continue;
        if (keptEnabled_ && (child == keptEnabled_ || child->isAncestorOf(keptEnabled_))) continue;
        child->setEnabled(false);
        heldControls_.emplace_back(child);
    }
}

void SendRunner::done() {
    if (abandoned_) return;
    thread_->deleteLater();
    thread_ = nullptr;
    // The server refused the token: a refresh now, so that a second 送信
    // of the unsent ones has a new one.
    if (result_.LoginRefused) windows_.accountLogin().renewAfterRefusal([](const LoginAnswer&) {});
    finish();
}

void SendRunner::finish() {
    holdControls(false);
    windows_.HoldCommands(&window_, false);
    const SendResult result = result_;
    // Nothing the user wrote is lost: the body as it was typed, ready for a
    // second try, which adds the fortune and the tag again.
    if (!result.allSent()) body_.setText(typedBody_);
    Q_EMIT finished(result);
}

}  // namespace lumopet
