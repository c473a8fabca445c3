// The login as a value: what the window thread reads from the account file,
// what the mail check and the send do with it, and a check and a send that
// run at the same time, each with its own reasons.

#include "mail/account_values.h"
#include "mail/receive_mail.h"
#include "mail/send_mail.h"

#include "core/program.h"
#include "store/secret_stores.h"
#include "tests/support/memory_secret_store.h"
#include "tests/mail/recording_send_host.h"
#include "tests/mail/scripted_transport.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_check_host.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace lumopet {
namespace {

using namespace Qt::StringLiterals;
using mail::Credentials;
using mail::test::ScriptedMailbox;
using mail::test::ScriptedTransport;
using Method = Credentials::Method;

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

const QByteArray kPlain = "From: a@example.jp\r\nSubject: first\r\n\r\nHello\r\n";

struct ProgramFolder {
    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramFolder() {
        EXPECT_TRUE(program.paths.createFolders());
        program.values.Pop3Server = u"pop.example.jp"_s;
        program.values.SmtpServer = u"smtp.example.jp"_s;
        program.values.MailAddress = u"me@example.jp"_s;
    }
    void writeAccount(const QByteArray& file) { folder.write(u"★MailData/iniIdPass.ini"_s, file); }
};

SendRequest aMessage() {
    SendRequest request;
    request.ToText = u"you@example.jp"_s;
    request.SubjectText = u"件名"_s;
    request.BodyText = u"本文"_s;
    return request;
}

// --- What the window thread reads: the account file's ID, the password of
// the store in use (a Windows folder's NAME2 counts until it is moved), the
// APOP setting. A keyring that does not answer gives the ID alone: the check
// then asks for the password.

enum class Keeper { Files, Keyring, SilentKeyring };

TEST(PasswordCredentials, TheAccountFileTheStoreAndTheApopSetting) {
    struct Case {
        const char* name;
        Keeper keeper;
        QByteArray file;  // empty: no account file
        int apopFlag;
        std::optional<QString> inKeyring;  // taro's entry
        Method method;
        QString user, secret;
    };
    const QByteArray withPassword = "[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\n";
    const QByteArray moved = "[EXEINI]\r\nNAME=taro\r\nNAME2=\r\n";
    const Case cases[] = {
        {"password", Keeper::Files, withPassword, 0, {}, Method::Password, u"taro"_s, u"secret"_s},
        {"apop", Keeper::Files, withPassword, 1, {}, Method::Apop, u"taro"_s, u"secret"_s},
        // Any value but 0 asks for APOP, as the settings file always had it.
        {"apop, any non-zero", Keeper::Files, withPassword, -1, {}, Method::Apop, u"taro"_s, u"secret"_s},
        {"no password", Keeper::Files, moved, 0, {}, Method::Password, u"taro"_s, QString()},
        {"no file", Keeper::Files, {}, 0, {}, Method::Password, QString(), QString()},
        {"the keyring's", Keeper::Keyring, moved, 0, u"key-secret"_s, Method::Password, u"taro"_s, u"key-secret"_s},
        {"a silent keyring", Keeper::SilentKeyring, moved, 0, u"key-secret"_s, Method::Password, u"taro"_s, QString()},
    };
    auto keyring = std::make_shared<test::MemorySecretStore::Entries>();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Never the desktop's keyring, not even for the rows without one.
        SetSecretStoreMaker([keyring, keeper = c.keeper](const ProgramPaths& paths) -> std::unique_ptr<SecretStore> {
            if (keeper == Keeper::Files) return std::make_unique<FileSecretStore>(paths);
            return std::make_unique<test::MemorySecretStore>(keyring);
        });
        ProgramFolder setup;
        if (!c.file.isEmpty()) setup.writeAccount(c.file);
        setup.program.values.ApopFlag = static_cast<std::int16_t>(c.apopFlag);
        keyring->secrets.clear();
        if (c.inKeyring) keyring->secrets[{SecretKind::Password, u"taro"_s}] = *c.inKeyring;
        keyring->answers = c.keeper != Keeper::SilentKeyring;
        const Credentials login = PasswordCredentials(setup.program);
        EXPECT_EQ(login.method, c.method);
        EXPECT_EQ(login.user, c.user);
        EXPECT_EQ(login.secret, c.secret);
        EXPECT_EQ(login.isSet(), !c.secret.isEmpty());
    }
    SetSecretStoreMaker({});
}

// --- The mail check with each kind of login.

class LoginRecordingHost : public test::RecordingCheckHost {
public:
    void setAccountTexts(const QString& id, const QString& password) override { accountTexts << id << password; }
    void showIdPassForm() override { idPassFormShown = true; }
    QStringList accountTexts;
    bool idPassFormShown = false;
};

struct CheckLoginCase {
    const char* name;
    Credentials login;
    QString loginError;  // non-empty: the server refuses with this ...
    bool refusal;        // ... as a refusal of the login itself
    // What the check must do. The login reaches the server when it has a
    // secret; the ID and password boxes get a password login, never a token.
    bool idPassForm;
    bool loginRefused;
    int mailCount;
    bool shown;  // the reason was put in a box
};

class CheckLogin : public ::testing::TestWithParam<CheckLoginCase> {};

TEST_P(CheckLogin, FollowsTheMethod) {
    const CheckLoginCase& c = GetParam();
    ProgramFolder setup;
    auto box = std::make_shared<ScriptedMailbox>();
    box->messages = {kPlain};
    box->loginError = c.loginError;
    box->loginRefused = c.refusal;
    SetMailTransport(std::make_unique<ScriptedTransport>(box));
    LoginRecordingHost host;
    const MailCheckResult result = ReceiveMail(setup.program, host, c.login);
    SetMailTransport(nullptr);

    const QStringList boxes =
        c.login.method == Method::Bearer ? QStringList() : QStringList{c.login.user, c.login.secret};
    EXPECT_EQ(host.accountTexts, boxes);
    EXPECT_EQ(host.idPassFormShown, c.idPassForm);
    const bool loggedIn = !c.login.secret.isEmpty();
    ASSERT_EQ(box->popLogins.size(), loggedIn ? 1u : 0u);
    if (loggedIn) {
        EXPECT_EQ(box->popLogins[0].method, c.login.method);
        EXPECT_EQ(box->popLogins[0].user, c.login.user);
        EXPECT_EQ(box->popLogins[0].secret, c.login.secret);
    }
    EXPECT_EQ(result.LoginRefused, c.loginRefused);
    EXPECT_EQ(result.MailCount, c.mailCount);
    EXPECT_EQ(host.messages.isEmpty(), !c.shown) << host.messages.join(u'\n').toStdString();
    EXPECT_EQ(result.LoginRefusal, !c.loginRefused ? QString() : c.loginError.isEmpty() ? kNoTokenText : c.loginError);
}

const QString kRefusal = u"-ERR [AUTH] Authentication failed."_s;
const QString kLocked = u"-ERR mailbox locked"_s;
const Credentials kPassword = Credentials::password(u"taro"_s, u"pw"_s);
const Credentials kToken = Credentials::bearer(u"taro@example.com"_s, u"ya29.token"_s);

INSTANTIATE_TEST_SUITE_P(
    Methods, CheckLogin,
    ::testing::Values(
        CheckLoginCase{"password", kPassword, {}, false, false, false, 1, false},
        CheckLoginCase{"apop", Credentials::apop(u"taro"_s, u"pw"_s), {}, false, false, false, 1, false},
        // The boxes get what there is, and the window asks for the rest.
        CheckLoginCase{"password_missing", Credentials::password(u"taro"_s, QString()), {}, false, true, false, 0, false},
        CheckLoginCase{"password_refused", kPassword, kRefusal, true, false, false, kLoginRefused, true},
        CheckLoginCase{"password_other_failure", kPassword, kLocked, false, false, false, kMailFailed, true},
        CheckLoginCase{"bearer", kToken, {}, false, false, false, 1, false},
        // Refused: the caller refreshes and checks again; nothing is shown
        // before it has tried. A failure that is not the login's is said.
        CheckLoginCase{"bearer_refused", kToken, kRefusal, true, false, true, kLoginRefused, false},
        CheckLoginCase{"bearer_other_failure", kToken, kLocked, false, false, false, kMailFailed, true},
        CheckLoginCase{"bearer_without_token", Credentials::bearer(u"taro@example.com"_s, QString()), {}, false, false, true,
                       kLoginRefused, false}),
    CaseName);

// --- The send: the SMTP login and the POP3 login before SMTP are the
// caller's, each where it belongs.

class SendLogins : public ::testing::Test {
protected:
    void SetUp() override { SetMailTransport(std::make_unique<ScriptedTransport>(box)); }
    void TearDown() override { SetMailTransport(nullptr); }
    SendResult send(const Credentials& smtpLogin, const Credentials& pop3Login) {
        return SendMail(setup.program, aMessage(), host, smtpLogin, pop3Login);
    }
    ProgramFolder setup;
    std::shared_ptr<ScriptedMailbox> box = std::make_shared<ScriptedMailbox>();
    test::RecordingHost host;
};

TEST_F(SendLogins, SmtpGetsItsLoginAndPopBeforeSmtpItsOwn) {
    box->popBeforeSmtp = true;
    const SendResult result = send(Credentials::bearer(u"smtp-user"_s, u"smtp-token"_s), Credentials::apop(u"pop-user"_s, u"pop-pw"_s));
    EXPECT_TRUE(result.allSent());
    ASSERT_EQ(box->smtpLogins.size(), 2u) << "refused as a relay, then sent again after the POP3 login";
    for (const Credentials& given : box->smtpLogins) EXPECT_EQ(given.secret, u"smtp-token"_s);
    ASSERT_EQ(box->popLogins.size(), 1u);
    EXPECT_EQ(box->popLogins[0].method, Method::Apop);
    EXPECT_EQ(box->popLogins[0].user, u"pop-user"_s);
}

TEST_F(SendLogins, ARefusedTokenIsToldApartFromARefusedPassword) {
    box->offersAuth = true;
    box->smtpLoginRefusal = u"535 5.7.8 Username and Password not accepted"_s;
    const SendResult token = send(Credentials::bearer(u"me@example.jp"_s, u"ya29.old"_s), {});
    EXPECT_TRUE(token.LoginRefused);
    EXPECT_EQ(token.Failed, 1);
    const SendResult password = send(Credentials::password(u"me"_s, u"bad"_s), {});
    EXPECT_FALSE(password.LoginRefused) << "a wrong password is the user's to correct, not a token to refresh";
    EXPECT_EQ(password.Failed, 1);
    EXPECT_TRUE(box->deliveries.empty());
}

// --- A timed mail check and a send on two worker threads. The check's
// connection ends only once the send has ended (or after ten seconds), and
// then its login is refused; the send is refused at once. Neither may wait
// for the other, and each tells its own reason.
class CheckWaitingForTheSend : public ScriptedTransport {
public:
    using ScriptedTransport::ScriptedTransport;
    Result<std::unique_ptr<mail::Pop3Session>> connectPop3(const QString& server) override {
        sendWasFirst = sendDone.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        return ScriptedTransport::connectPop3(server);
    }
    std::shared_future<void> sendDone;
    std::atomic<bool> sendWasFirst = false;
};

TEST(CheckAndSend, RunTogetherAndEachShowsItsOwnReason) {
    const QString checkRefusal = u"-ERR [SYS/TEMP] check: mailbox locked"_s;
    const QString sendRefusal = u"550 5.1.1 send: recipient unknown"_s;
    ProgramFolder checking, sending;
    auto box = std::make_shared<ScriptedMailbox>();
    box->loginError = checkRefusal;
    box->sendError = sendRefusal;
    auto owned = std::make_unique<CheckWaitingForTheSend>(box);
    CheckWaitingForTheSend& transport = *owned;
    std::promise<void> sendDone;
    transport.sendDone = sendDone.get_future().share();
    SetMailTransport(std::move(owned));

    test::RecordingCheckHost checkHost;
    test::RecordingHost sendHost;
    MailCheckResult checked;
    std::thread check([&] { checked = ReceiveMail(checking.program, checkHost, kPassword); });
    std::thread send([&] {
        SendMail(sending.program, aMessage(), sendHost, kPassword, {});
        sendDone.set_value();
    });
    check.join();
    send.join();
    SetMailTransport(nullptr);

    EXPECT_TRUE(transport.sendWasFirst) << "the send waited for the check to end";
    EXPECT_EQ(checkHost.messages, QStringList{checkRefusal});
    EXPECT_LT(checked.MailCount, 0);
    ASSERT_EQ(sendHost.shown.size(), 1u);
    EXPECT_EQ(sendHost.shown[0].title, kSendErrorTitle);
    EXPECT_EQ(sendHost.shown[0].text, sendRefusal);
}

}  // namespace
}  // namespace lumopet
