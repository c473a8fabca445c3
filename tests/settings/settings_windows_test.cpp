#include "core/program.h"
#include "core/settings_files/account_options.h"
#include "core/settings_files/receive_options.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "settings/password_move_question.h"
#include "store/secret_stores.h"
#include "tests/support/memory_secret_store.h"
#include "tests/support/settings_window_fixture.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumopet {
namespace {

class SettingsWindowsTest : public test::SettingsWindowFixture {
protected:
    template <class Form>
    std::unique_ptr<Form> open() {
        auto form = std::make_unique<Form>(windows);
        form->Form_Load();
        form->show();
        return form;
    }

    // One error box titled "エラー", and the window still open.
    void expectErrorKeptOpen(const QWidget& form) {
        EXPECT_TRUE(form.isVisible());
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].kind, MessageKind::Error);
        EXPECT_EQ(messages[0].title, QStringLiteral("エラー"));
    }
};

// The ways of leaving a window without OK: the Cancel button, the close
// box, Esc on the window and Esc typed in one of its boxes.
enum class Leave { CancelButton, CloseBox, Escape, EscapeInABox };
constexpr Leave kLeaveWays[] = {Leave::CancelButton, Leave::CloseBox, Leave::Escape, Leave::EscapeInABox};

void leave(QWidget& form, QPushButton* cancel, QWidget* box, Leave way) {
    switch (way) {
    case Leave::CancelButton: QTest::mouseClick(cancel, Qt::LeftButton); break;
    case Leave::CloseBox: form.close(); break;
    case Leave::Escape: QTest::keyClick(&form, Qt::Key_Escape); break;
    case Leave::EscapeInABox: QTest::keyClick(box, Qt::Key_Escape); break;
    }
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    return info.st_mode & 07777;
}

// ---------------------------------------------------------------- OptionForm

TEST_F(SettingsWindowsTest, OptionFormShowsTheValuesInMemoryNotTheFile) {
    folder.write(QStringLiteral("sorane.ini"), "SMTP=file.smtp\r\nPOP3=file.pop\r\nMAIL=file@x\r\nAPOP=0\r\n");
    program.values = {QStringLiteral("smtp.jp"), QStringLiteral("pop.jp"), QStringLiteral("me@x.jp"), 0, {}, {}};
    for (const auto& [apop, ticked] : {std::pair<std::int16_t, bool>{0, false}, {1, true}, {5, true}, {-1, true}}) {
        program.values.ApopFlag = apop;
        auto form = open<OptionForm>();
        EXPECT_EQ(form->SmtpText->text(), QStringLiteral("smtp.jp"));
        EXPECT_EQ(form->Pop3Text->text(), QStringLiteral("pop.jp"));
        EXPECT_EQ(form->MailText->text(), QStringLiteral("me@x.jp"));
        EXPECT_EQ(form->ApopCheck->isChecked(), ticked) << "ApopFlag " << apop;
    }
}

TEST_F(SettingsWindowsTest, OptionFormOkWritesTheFileAndTheValuesAsTyped) {
    struct Case {
        QString smtp, pop3, mail;
        bool apop;
        QByteArray file;
    };
    const Case cases[] = {
        {QStringLiteral("smtp.jp"), QStringLiteral("pop.jp"), QStringLiteral("me@x.jp"), true,
         "SMTP=smtp.jp\r\nPOP3=pop.jp\r\nMAIL=me@x.jp\r\nAPOP=1\r\n"},
        {QStringLiteral(" smtp x "), QStringLiteral("pop3s://pop:995 "), QStringLiteral("  "), false,
         "SMTP= smtp x \r\nPOP3=pop3s://pop:995 \r\nMAIL=  \r\nAPOP=0\r\n"},
        {QString(), QString(), QString(), false, "SMTP=\r\nPOP3=\r\nMAIL=\r\nAPOP=0\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        program.values.ApopFlag = c.apop ? 0 : 7;  // the box sets it either way
        auto form = open<OptionForm>();
        for (QLineEdit* box : {form->SmtpText, form->Pop3Text, form->MailText}) box->clear();
        QTest::keyClicks(form->SmtpText, c.smtp);
        QTest::keyClicks(form->Pop3Text, c.pop3);
        QTest::keyClicks(form->MailText, c.mail);
        if (form->ApopCheck->isChecked() != c.apop) QTest::mouseClick(form->ApopCheck, Qt::LeftButton);
        QTest::mouseClick(form->OkCommand, Qt::LeftButton);

        EXPECT_EQ(folder.read(QStringLiteral("sorane.ini")), c.file);
        EXPECT_EQ(program.values.SmtpServer, c.smtp);
        EXPECT_EQ(program.values.Pop3Server, c.pop3);
        EXPECT_EQ(program.values.MailAddress, c.mail);
        EXPECT_EQ(program.values.ApopFlag, c.apop ? 1 : 0);
        EXPECT_FALSE(form->isVisible());
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(SettingsWindowsTest, OptionFormLeftWithoutOkChangesNothing) {
    const QByteArray before = "SMTP=old.smtp\r\nPOP3=\r\nMAIL=\r\nAPOP=0\r\n";
    for (Leave way : kLeaveWays) {
        SCOPED_TRACE(static_cast<int>(way));
        folder.write(QStringLiteral("sorane.ini"), before);
        program.values.SmtpServer = QStringLiteral("old.smtp");
        auto form = open<OptionForm>();
        form->SmtpText->setText(QStringLiteral("new.smtp"));
        form->ApopCheck->setChecked(true);
        leave(*form, form->CancelCommand, form->SmtpText, way);
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(folder.read(QStringLiteral("sorane.ini")), before);
        EXPECT_EQ(program.values.SmtpServer, QStringLiteral("old.smtp"));
        EXPECT_EQ(program.values.ApopFlag, 0);
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(SettingsWindowsTest, OptionFormKeepsItsWindowWhenTheFileCannotBeWritten) {
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("sorane.ini")));
    auto form = open<OptionForm>();
    form->Pop3Text->setText(QStringLiteral("pop.jp"));
    QTest::mouseClick(form->OkCommand, Qt::LeftButton);
    EXPECT_EQ(program.values.Pop3Server, QStringLiteral("pop.jp"));
    expectErrorKeptOpen(*form);
}

// A server file that start-up could not read (root reads a mode-000 file,
// so a FIFO stands for it here) is not replaced by OK, which says why.
TEST_F(SettingsWindowsTest, OptionFormOkDoesNotReplaceAFileThatCannotBeRead) {
    const QString path = folder.path(QStringLiteral("sorane.ini"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    auto form = open<OptionForm>();
    form->Pop3Text->setText(QStringLiteral("pop.jp"));
    QTest::mouseClick(form->OkCommand, Qt::LeftButton);
    expectErrorKeptOpen(*form);
    if (!messages.empty()) {
        EXPECT_TRUE(messages[0].text.contains(path)) << messages[0].text.toStdString();
    }
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(SettingsWindowsTest, OptionFormAccessKeysLeadToTheBoxes) {
    auto form = open<OptionForm>();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    for (const auto& [key, box] : {std::pair<Qt::Key, QWidget*>{Qt::Key_P, form->Pop3Text}, {Qt::Key_M, form->MailText},
                                   {Qt::Key_S, form->SmtpText}}) {
        QTest::keyClick(form.get(), key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), box) << "Alt+" << char(key);
    }
}

TEST_F(SettingsWindowsTest, OptionFormServerBoxesShowTheFormsTheyTakeAsToolTips) {
    auto form = open<OptionForm>();
    struct Case {
        const char* name;
        QLineEdit* box;
        QStringList forms;       // each must be in the tip
        QStringList otherForms;  // the other protocol's: never in the tip
    };
    const Case cases[] = {
        {"SMTP", form->SmtpText,
         {QStringLiteral("mail.example.jp（"), QStringLiteral("mail.example.jp:587"), QStringLiteral("smtps://mail.example.jp（"),
          QStringLiteral("smtp://mail.example.jp:587")},
         {QStringLiteral("pop3")}},
        {"POP3", form->Pop3Text,
         {QStringLiteral("mail.example.jp（"), QStringLiteral("mail.example.jp:110"), QStringLiteral("pop3s://mail.example.jp（"),
          QStringLiteral("pop3s://mail.example.jp:995")},
         {QStringLiteral("smtp")}},
    };
    for (const Case& c : cases) {
        const QString tip = c.box->toolTip();
        EXPECT_TRUE(tip.startsWith(QString::fromLatin1(c.name) + QStringLiteral("サーバーの書き方"))) << c.name << ": " << tip.toStdString();
        for (const QString& shown : c.forms) EXPECT_TRUE(tip.contains(shown)) << c.name << " lacks " << shown.toStdString();
        for (const QString& foreign : c.otherForms)
            EXPECT_FALSE(tip.contains(foreign, Qt::CaseInsensitive)) << c.name << " names " << foreign.toStdString();
    }
    EXPECT_TRUE(form->MailText->toolTip().isEmpty()) << "the address box takes an address, nothing else";
}

// ---------------------------------------------------------------- IdPassForm

enum class Secrets { Files, Keyring, SilentKeyring };

class IdPassFormTest : public SettingsWindowsTest {
protected:
    void SetUp() override {
        SettingsWindowsTest::SetUp();
        use(Secrets::Files);
    }
    void TearDown() override {
        SetSecretStoreMaker({});
        SettingsWindowsTest::TearDown();
    }
    // The store the window gets: never the desktop's keyring in a test.
    void use(Secrets secrets) {
        keyring->answers = secrets != Secrets::SilentKeyring;
        SetSecretStoreMaker([this, secrets](const ProgramPaths& paths) -> std::unique_ptr<SecretStore> {
            if (secrets == Secrets::Files) return std::make_unique<FileSecretStore>(paths);
            return std::make_unique<test::MemorySecretStore>(keyring);
        });
    }
    std::optional<QString> kept(const QString& id) const {
        const auto found = keyring->secrets.find({SecretKind::Password, id});
        if (found == keyring->secrets.end()) return std::nullopt;
        return found->second;
    }

    const QString accountFile = QStringLiteral("★MailData/iniIdPass.ini");
    const QByteArray earlier = "[EXEINI]\r\nNAME=old\r\nNAME2=old-pw\r\nNAME3=1\r\n";
    const QByteArray earlierInKeyring = "[EXEINI]\r\nNAME=old\r\nNAME2=\r\nNAME3=1\r\n";
    std::shared_ptr<test::MemorySecretStore::Entries> keyring = std::make_shared<test::MemorySecretStore::Entries>();
};

// The box says whether a password is kept, wherever it is kept.
TEST_F(IdPassFormTest, LoadShowsWhetherAPasswordIsKept) {
    struct Case {
        const char* name;
        Secrets secrets;
        QByteArray file;
        std::optional<QString> inKeyring;  // old's entry
        QString id, password;
        bool ticked;
    };
    const Case cases[] = {
        {"the file's", Secrets::Files, earlier, std::nullopt, "old", "old-pw", true},
        // Which copy counts over a keyring is account_secrets_test's.
    // The fault of before: NAME3=0 over a password still in NAME2 showed
        // a cleared box while the check went on using it.
        {"the file's, saved box cleared before", Secrets::Files,
         "[EXEINI]\r\nNAME=old\r\nNAME2=old-pw\r\nNAME3=0\r\n", std::nullopt, "old", "old-pw", true},
        {"an ID alone", Secrets::Files, "[EXEINI]\r\nNAME=old\r\nNAME2=\r\nNAME3=0\r\n", std::nullopt, "old", "",
         false},
        {"no file", Secrets::Files, {}, std::nullopt, "", "", false},
        {"the keyring's", Secrets::Keyring, earlierInKeyring, QStringLiteral("key-pw"), "old", "key-pw", true},
        {"a silent keyring", Secrets::SilentKeyring, earlierInKeyring, QStringLiteral("key-pw"), "old", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        use(c.secrets);
        QFile::remove(folder.path(accountFile));
        if (!c.file.isEmpty()) folder.write(accountFile, c.file);
        keyring->secrets.clear();
        if (c.inKeyring) keyring->secrets[{SecretKind::Password, QStringLiteral("old")}] = *c.inKeyring;
        auto form = open<IdPassForm>();
        EXPECT_EQ(form->IdText->text(), c.id);
        EXPECT_EQ(form->PassText->text(), c.password);
        EXPECT_EQ(form->Check1->isChecked(), c.ticked);
        // As when the window comes back after the box was changed and left.
        form->Check1->setChecked(!c.ticked);
        form->Form_Load();
        EXPECT_EQ(form->Check1->isChecked(), c.ticked);
    }
    EXPECT_TRUE(messages.empty()) << "loading says nothing: a check loads the window hidden";
}

TEST_F(IdPassFormTest, OkSetsTheAccountAndKeepsThePasswordOnlyWithTheBoxTicked) {
    struct Case {
        const char* name;
        Secrets secrets;
        QString id, password;
        bool ticked;
        QByteArray file;  // empty: not compared byte for byte (CP932)
        std::optional<QString> inKeyring;  // the entry of the ID typed
        QString savedId, savedPassword;
    };
    const Case cases[] = {
        {"ticked, files", Secrets::Files, "alice", "pw", true, "[EXEINI]\r\nNAME=alice\r\nNAME2=pw\r\nNAME3=1\r\n",
         std::nullopt, "alice", "pw"},
        // Cleared: the password saved before goes, the ID stays.
        {"cleared, files", Secrets::Files, "bob", "bob-pw", false, "[EXEINI]\r\nNAME=old\r\nNAME2=\r\nNAME3=0\r\n",
         std::nullopt, "old", ""},
        {"ticked empty, files", Secrets::Files, "", "", true, "[EXEINI]\r\nNAME=\r\nNAME2=\r\nNAME3=1\r\n",
         std::nullopt, "", ""},
        {"ticked Japanese, files", Secrets::Files, "山田太郎", "パスワード①", true, {}, std::nullopt, "山田太郎",
         "パスワード①"},
        {"ticked, keyring: NAME2 stays empty", Secrets::Keyring, "alice", "pw", true,
         "[EXEINI]\r\nNAME=alice\r\nNAME2=\r\nNAME3=1\r\n", QStringLiteral("pw"), "alice", "pw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        use(c.secrets);
        // The earlier password in the file, and in the keyring for old too.
        folder.write(accountFile, earlier);
        keyring->secrets.clear();
        keyring->secrets[{SecretKind::Password, QStringLiteral("old")}] = QStringLiteral("old-key-pw");
        auto form = open<IdPassForm>();
        form->SetAccountTexts(c.id, c.password);  // QTest types ASCII only
        if (form->Check1->isChecked() != c.ticked) QTest::mouseClick(form->Check1, Qt::LeftButton);
        QTest::mouseClick(form->OKCommand, Qt::LeftButton);

        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(program.values.UserId, c.id);
        EXPECT_EQ(program.values.UserPassword, c.password);
        if (!c.file.isEmpty()) {
            EXPECT_EQ(folder.read(accountFile), c.file);
        }
        EXPECT_EQ(modeOf(folder.path(accountFile)), 0600u);
        if (c.secrets == Secrets::Keyring) {
            EXPECT_EQ(kept(c.id), c.inKeyring);
            EXPECT_EQ(kept(QStringLiteral("old")), std::nullopt) << "one account: the earlier ID's password is kept no longer";
        }
        auto again = open<IdPassForm>();
        EXPECT_EQ(again->IdText->text(), c.savedId);
        EXPECT_EQ(again->PassText->text(), c.savedPassword);
        EXPECT_EQ(again->Check1->isChecked(), !c.savedPassword.isEmpty());
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(IdPassFormTest, LeftWithoutOkChangesNothing) {
    for (Leave way : kLeaveWays) {
        SCOPED_TRACE(static_cast<int>(way));
        folder.write(accountFile, earlier);
        program.values.UserId = QStringLiteral("in memory");
        auto form = open<IdPassForm>();
        form->IdText->setText(QStringLiteral("new"));
        form->Check1->setChecked(true);
        leave(*form, form->CancelCommand, form->PassText, way);
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(folder.read(accountFile), earlier);
        EXPECT_EQ(program.values.UserId, QStringLiteral("in memory"));
    }
}

TEST_F(IdPassFormTest, EnterConfirmsWhereverTheFocusIs) {
    auto form = open<IdPassForm>();
    for (QWidget* target : {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(form->IdText),
                            static_cast<QWidget*>(form->PassText), static_cast<QWidget*>(form->Check1)}) {
        form->show();
        form->IdText->setText(target->metaObject()->className());
        QTest::keyClick(target, Qt::Key_Return);
        EXPECT_FALSE(form->isVisible()) << target->metaObject()->className();
        EXPECT_EQ(program.values.UserId, form->IdText->text());
    }
    // Enter on the focused Cancel button is Cancel's own.
    form->show();
    form->IdText->setText(QStringLiteral("not taken"));
    QTest::keyClick(form->CancelCommand, Qt::Key_Return);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(program.values.UserId, QStringLiteral("QCheckBox"));
}

TEST_F(IdPassFormTest, PasswordIsNeverShown) {
    auto form = open<IdPassForm>();
    QTest::keyClicks(form->PassText, QStringLiteral("s3cr3t"));
    EXPECT_EQ(form->PassText->text(), QStringLiteral("s3cr3t"));
    EXPECT_EQ(form->PassText->displayText(), QStringLiteral("******"));
    form->SetAccountTexts(QStringLiteral("id"), QStringLiteral("パス"));
    EXPECT_EQ(form->PassText->displayText(), QStringLiteral("**"));
    EXPECT_EQ(form->IdText->displayText(), QStringLiteral("id"));
    // An input method's conversion window would show what is typed.
    EXPECT_FALSE(form->PassText->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_TRUE(form->PassText->inputMethodHints().testFlags(Qt::ImhHiddenText | Qt::ImhSensitiveData));
    // The label beside the bare box ticks it too.
    QTest::mouseClick(form->Label2[1], Qt::LeftButton);
    EXPECT_TRUE(form->Check1->isChecked());
}

TEST_F(IdPassFormTest, KeepsItsWindowWhenTheFileCannotBeWritten) {
    ASSERT_TRUE(QDir().mkdir(folder.path(accountFile)));
    auto form = open<IdPassForm>();
    form->SetAccountTexts(QStringLiteral("alice"), QStringLiteral("pw"));
    QTest::mouseClick(form->OKCommand, Qt::LeftButton);
    EXPECT_EQ(program.values.UserId, QStringLiteral("alice"));
    expectErrorKeptOpen(*form);
}

// A keyring that does not answer when the box is ticked: the window stays,
// says so without the password, and the file says nothing of a password.
TEST_F(IdPassFormTest, KeepsItsWindowWhenTheKeyringDoesNotTakeThePassword) {
    use(Secrets::SilentKeyring);
    folder.write(accountFile, earlierInKeyring);
    auto form = open<IdPassForm>();
    form->SetAccountTexts(QStringLiteral("alice"), QStringLiteral("typed-pw"));
    form->Check1->setChecked(true);
    QTest::mouseClick(form->OKCommand, Qt::LeftButton);
    expectErrorKeptOpen(*form);
    ASSERT_FALSE(messages.empty());
    EXPECT_FALSE(messages[0].text.contains(QStringLiteral("typed-pw")));
    EXPECT_EQ(folder.read(accountFile), earlierInKeyring);
}

// ---------------------------------------------------------------- the move to the keyring

// Two starts: a いいえ is kept in lumopet.ini and not asked again; a move
// that failed is offered again.
TEST_F(IdPassFormTest, StartOffersToMoveAPlainPasswordIntoTheKeyring) {
    struct Case {
        const char* name;
        Secrets secrets;
        QByteArray file;
        MessageAnswer answer;
        int questions, errors;
        QByteArray fileAfter;
        std::optional<QString> inKeyring;
    };
    const Case cases[] = {
        {"yes: moved", Secrets::Keyring, earlier, MessageAnswer::Yes, 1, 0, earlierInKeyring, QStringLiteral("old-pw")},
        {"no: left as it is", Secrets::Keyring, earlier, MessageAnswer::No, 1, 0, earlier, std::nullopt},
        {"yes, silent keyring: left, and said", Secrets::SilentKeyring, earlier, MessageAnswer::Yes, 2, 2, earlier,
         std::nullopt},
        {"no keyring: nothing asked", Secrets::Files, earlier, MessageAnswer::Yes, 0, 0, earlier, std::nullopt},
        {"nothing in the file: nothing asked", Secrets::Keyring, earlierInKeyring, MessageAnswer::Yes, 0, 0,
         earlierInKeyring, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        use(c.secrets);
        folder.write(accountFile, c.file);
        QFile::remove(program.paths.path(files::ProgramOptions));
        keyring->secrets.clear();
        messages.clear();
        SetMessageAnswerer([&](const MessageRequest& request) {
            messages.push_back(request);
            return request.kind == MessageKind::Question ? c.answer : MessageAnswer::Ok;
        });
        OfferToMovePasswordToKeyring(nullptr, program.paths);
        OfferToMovePasswordToKeyring(nullptr, program.paths);
        int questions = 0, errors = 0;
        for (const MessageRequest& request : messages) {
            questions += request.kind == MessageKind::Question && request.text.contains(QStringLiteral("キーリング"));
            errors += request.kind == MessageKind::Error;
            EXPECT_FALSE(request.text.contains(QStringLiteral("old-pw")));
        }
        EXPECT_EQ(questions, c.questions);
        EXPECT_EQ(errors, c.errors);
        EXPECT_EQ(folder.read(accountFile), c.fileAfter);
        EXPECT_EQ(kept(QStringLiteral("old")), c.inKeyring);
        EXPECT_EQ(ReadAccountOptions(program.paths.path(files::ProgramOptions)).value().KeepPasswordInFile,
                  c.answer == MessageAnswer::No);
    }
}

// ---------------------------------------------------------------- SetForm

TEST_F(SettingsWindowsTest, SetFormSaveWritesTheTickedBoxesAndShowsWhatTheFileHolds) {
    struct Case {
        std::vector<int> boxes;  // K of each ticked CheckK
        QByteArray keys;         // NAME1..NAME5
        std::string moods;       // mood 1 first
    };
    const Case cases[] = {
        {{4}, "00100", "10000"}, {{}, "00000", "00000"}, {{1, 2}, "10010", "01001"},
        {{5, 3}, "01001", "00110"}, {{1, 2, 3, 4, 5}, "11111", "11111"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.moods);
        windows.calls.clear();
        auto form = open<SetForm>();
        for (int k : c.boxes) QTest::mouseClick(form->Check[k - 1], Qt::LeftButton);
        QTest::mouseClick(form->Command3, Qt::LeftButton);

        QByteArray file = "[EXEINI]\r\n";
        for (int i = 0; i < kMoodCount; ++i) file += "NAME" + QByteArray::number(i + 1) + "=" + c.keys[i] + "\r\n";
        EXPECT_EQ(folder.read(QStringLiteral("★MailData/CharaData.ini")), file);
        EXPECT_EQ(windows.calls, (Calls{"ShowEnabledMoods 00000", "ShowEnabledMoods " + c.moods}));
        EXPECT_TRUE(form->isVisible());
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(SettingsWindowsTest, SetFormFailedSaveShowsWhatTheFileStillHoldsAndSaysNothing) {
    ASSERT_TRUE(QDir().mkdir(program.paths.path(files::CharacterFile)));
    auto form = open<SetForm>();
    QTest::mouseClick(form->Check[1], Qt::LeftButton);
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    EXPECT_EQ(windows.calls, (Calls{"ShowEnabledMoods 00000", "ShowEnabledMoods 00000"}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(SettingsWindowsTest, SetFormTickEnabledMoodsLeavesTheOtherBoxesAlone) {
    auto form = open<SetForm>();
    form->Check[1]->setChecked(true);  // Check2: mood 5
    form->TickEnabledMoods({true, false, false, false, false});
    form->TickEnabledMoods(MoodFlags{});
    EXPECT_EQ(form->TickedMoods(), (MoodFlags{true, false, false, false, true}));
    const bool ticked[] = {false, true, false, true, false};  // Check1 .. Check5
    for (int k = 1; k <= kMoodCount; ++k) EXPECT_EQ(form->IsBoxTicked(k), ticked[k - 1]) << "Check" << k;
}

TEST_F(SettingsWindowsTest, SetFormBoxesStandInMoodOrderUnderTheirNumbers) {
    auto form = open<SetForm>();
    const QCheckBox* inMoodOrder[] = {form->Check[3], form->Check[0], form->Check[4], form->Check[2], form->Check[1]};
    const QLabel* numbers[] = {form->Label1, form->Label2, form->Label3, form->Label5, form->Label6};
    for (int i = 0; i < kMoodCount; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(inMoodOrder[i]->parentWidget(), form->Frame1);
        EXPECT_EQ(numbers[i]->text(), QString::number(i + 1));
        EXPECT_EQ(numbers[i]->x(), inMoodOrder[i]->x());
        EXPECT_LT(numbers[i]->geometry().bottom(), inMoodOrder[i]->y());
        if (i > 0) {
            EXPECT_LT(inMoodOrder[i - 1]->geometry().right(), inMoodOrder[i]->x());
        }
    }
}

TEST_F(SettingsWindowsTest, SetFormButtonsAskTheOtherWindowsAndClosingStopsThePreview) {
    for (const auto& [button, call] : {std::pair{&SetForm::Command1, "ShowIdPassForm"},
                                       {&SetForm::Command2, "ShowOptionForm"},
                                       {&SetForm::Command6, "ShowAccountSetupForm"},
                                       {&SetForm::Command4, "SetPreviewInterval 500"}}) {
        windows.calls.clear();
        auto form = open<SetForm>();
        QTest::mouseClick((*form).*button, Qt::LeftButton);
        EXPECT_EQ(windows.calls, Calls{call});
        EXPECT_TRUE(form->isVisible());
        form->close();
        EXPECT_EQ(windows.calls, (Calls{call, "SetPreviewInterval 0"}));
    }
}

}  // namespace
}  // namespace lumopet
