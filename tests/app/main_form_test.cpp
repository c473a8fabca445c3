#include "app/MainForm.h"
#include "app/auto_mail_check.h"
#include "app/mail_check_host.h"
#include "app/mail_tray_icon.h"
#include "app/program_windows.h"
#include "chara/CharacterWindow.h"
#include "core/program.h"
#include "core/safe_file.h"
#include "core/settings_files/server_settings.h"
#include "settings/IdPassForm.h"
#include "settings/AccountSetupForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/hot_spot_label.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace lumopet {
namespace {

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(program.paths.createFolders()); }

    MainForm& load() {
        MainForm& form = windows.mainForm();
        form.Form_Load();
        form.show();
        return form;
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramWindows windows{program};
};

bool isWhiteAndBold(const QLabel* label) {
    return label->palette().color(QPalette::WindowText) == QColor(255, 255, 255) && label->font().bold();
}

bool isGreenAndNormal(const QLabel* label) {
    return label->palette().color(QPalette::WindowText) == QColor(0, 192, 0) && !label->font().bold();
}

TEST_F(MainFormTest, LoadReadsTheSettingsAndLightsTheEnabledMoods) {
    folder.write(QStringLiteral("sorane.ini"), "SMTP=s\r\nPOP3=p\r\nMAIL=m\r\nAPOP=1\r\n");
    // NAME2 is mood 3, indicator Label12(2).
    folder.write(QStringLiteral("★MailData/CharaData.ini"), "[EXEINI]\r\nNAME2=1\r\n");
    MainForm& form = load();
    EXPECT_EQ(program.values.Pop3Server, QStringLiteral("p"));
    EXPECT_EQ(program.values.ApopFlag, 1);
    for (int i = 0; i < kMoodCount; ++i)
        EXPECT_TRUE(i == 2 ? isWhiteAndBold(form.Label12[i]) : isGreenAndNormal(form.Label12[i])) << "Label12(" << i << ")";
    EXPECT_EQ(form.windowTitle(), QStringLiteral("ルモペット　Ver 2.13"));
    EXPECT_TRUE(form.Text1->isHidden());
    EXPECT_FALSE(form.Timer2->isActive());
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 1000);
}

// Tests run as root, which reads a mode-000 file; a folder or a FIFO in the
// file's place is what cannot be read here, and takes the same path.
TEST_F(MainFormTest, ASettingsFileThatCannotBeReadIsReportedAndNotTakenForAFirstStart) {
    const auto folderThere = [](const QString& p) { ASSERT_TRUE(QDir().mkdir(p)); };
    const auto fifoThere = [](const QString& p) { ASSERT_EQ(::mkfifo(p.toUtf8().constData(), 0600), 0); };
    struct Case {
        const char* name;
        QString file;
        std::function<void(const QString&)> prepare;  // empty: no file at all
        bool reported;
    };
    const QString servers = QStringLiteral("sorane.ini");
    const QString characters = QStringLiteral("★MailData/CharaData.ini");
    const QString account = QStringLiteral("★MailData/iniIdPass.ini");
    const QString options = QStringLiteral("★MailData/lumopet.ini");
    const Case cases[] = {
        {"no file: a first start", servers, {}, false},
        {"a folder in its place", servers, folderThere, true},
        {"a FIFO in its place (must not hang)", servers, fifoThere, true},
        {"a folder for the character file", characters, folderThere, true},
        {"a FIFO for the character file", characters, fifoThere, true},
        {"a folder for the account file", account, folderThere, true},
        {"a FIFO for the account file", account, fifoThere, true},
        {"a folder for the program's options", options, folderThere, true},
        {"a FIFO for the program's options", options, fifoThere, true},
    };
    for (const Case& c : cases) {
        test::TempFolder home;
        Program own{ProgramPaths(home.path())};
        ASSERT_TRUE(own.paths.createFolders());
        ProgramWindows ownWindows{own};
        const QString path = home.path(c.file);
        if (c.prepare) c.prepare(path);
        QList<MessageRequest> shown;
        SetMessageAnswerer([&shown](const MessageRequest& request) {
            shown << request;
            return MessageAnswer::Ok;
        });
        ownWindows.mainForm().Form_Load();
        QCoreApplication::processEvents();
        SetMessageAnswerer({});
        bool serverWindowUp = false;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<AccountSetupForm*>(w) && w->isVisible()) serverWindowUp = true;
        if (c.reported) {
            ASSERT_EQ(shown.size(), 1) << c.name;
            EXPECT_EQ(shown[0].title, QStringLiteral("エラー")) << c.name;
            EXPECT_EQ(shown[0].kind, MessageKind::Error) << c.name;
            EXPECT_TRUE(shown[0].text.contains(path)) << c.name << ": " << shown[0].text.toStdString();
            EXPECT_FALSE(QFileInfo(path).isFile()) << c.name << ": left as it was";
        } else {
            EXPECT_TRUE(shown.isEmpty()) << c.name;
        }
        // Only a server file that is missing means a first start; one that
        // is there and unreadable would be written over by the server window.
        EXPECT_EQ(serverWindowUp, c.file != servers || !c.reported) << c.name;
        for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
    }
}

TEST_F(MainFormTest, WithoutACharacterFileEveryIndicatorIsGreen) {
    MainForm& form = load();
    for (const QLabel* indicator : form.Label12) EXPECT_TRUE(isGreenAndNormal(indicator));
    form.ShowEnabledMoods({true, true, true, true, true});
    for (const QLabel* indicator : form.Label12) EXPECT_TRUE(isWhiteAndBold(indicator));
}

TEST_F(MainFormTest, TheClockTextIsInTheHiddenBoxAndKeepsTicking) {
    MainForm& form = load();
    const QRegularExpression clock(QStringLiteral("^\\d{4}/\\d{2}/\\d{2}  \\d{1,2}:\\d{2}:\\d{2}$"));
    EXPECT_TRUE(clock.match(form.Text2->text()).hasMatch()) << form.Text2->text().toStdString();
    EXPECT_GE(form.Text2->y(), form.height()) << "below the visible area";
    form.Text2->clear();  // as a mail check leaves it
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.Text2->text().isEmpty(); }, 1500));
}

TEST_F(MainFormTest, HelpLineFollowsTheMouse) {
    folder.write(QStringLiteral("sorane.ini"), "POP3=p\r\n");  // no server window in front
    MainForm& form = load();
    for (const HotSpotLook& look : HotSpotLooks()) {
        HotSpotLabel* label = form.hotSpot(look.id);
        QTest::mouseMove(label, label->rect().center());
        EXPECT_EQ(form.Label2->text(), look.helpText) << look.name;
        EXPECT_EQ(label->text(), look.caption);
        // The bare picture below the help line clears it.
        QTest::mouseMove(&form, QPoint(form.width() / 2, 5));
        EXPECT_EQ(form.Label2->text(), QString()) << look.name;
    }
}

// A POP3 server on loopback that greets and then refuses every command but
// QUIT, one connection at a time, on a thread of its own.
class RefusingPop3Server {
public:
    RefusingPop3Server() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~RefusingPop3Server() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }

private:
    static void send(int socket, const char* text) { (void)!::write(socket, text, std::strlen(text)); }

    void serve() {
        while (!stop_) {
            pollfd waiting{listener_, POLLIN, 0};
            if (::poll(&waiting, 1, 100) <= 0) continue;
            const int socket = ::accept(listener_, nullptr, nullptr);
            if (socket < 0) continue;
            send(socket, "+OK ready\r\n");
            std::string line;
            char c = 0;
            while (!stop_ && ::read(socket, &c, 1) == 1) {
                if (c != '\n') {
                    line += c;
                    continue;
                }
                const bool quit = line.rfind("QUIT", 0) == 0;
                send(socket, quit ? "+OK bye\r\n" : "-ERR refused\r\n");
                line.clear();
                if (quit) break;
            }
            ::close(socket);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(MainFormTest, AnEndedMailCheckLeavesTheHelpLineEmpty) {
    // Whatever a check met after it said that it is checking, the line must
    // not keep saying so once it has ended.
    RefusingPop3Server server;
    ASSERT_NE(server.port(), 0);
    struct Case {
        const char* name;
        QString pop3;
        QByteArray account;  // ★MailData/iniIdPass.ini
        QString said;        // in the one message shown; empty: none shown
    };
    const Case cases[] = {
        // Port 1 on loopback: nothing listens there.
        {"the connection is refused", QStringLiteral("127.0.0.1:1"), "", QStringLiteral("接続できません")},
        {"no account yet: the ID window opens", QStringLiteral("127.0.0.1:%1").arg(server.port()), "", QString()},
        {"the login fails with a message", QStringLiteral("127.0.0.1:%1").arg(server.port()),
         "[EXEINI]\r\nNAME=alice\r\nNAME2=pw\r\n", QStringLiteral("-ERR refused")},
    };
    QStringList messages;
    SetMessageAnswerer([&messages](const MessageRequest& request) {
        messages << request.text;
        return MessageAnswer::Ok;
    });
    for (const Case& c : cases) {
        messages.clear();
        folder.write(QStringLiteral("sorane.ini"),
                     QStringLiteral("SMTP=127.0.0.1:1\r\nPOP3=%1\r\nMAIL=a@b\r\nAPOP=0\r\n").arg(c.pop3).toLatin1());
        folder.write(QStringLiteral("★MailData/iniIdPass.ini"), c.account);
        MainForm& form = load();
        bool finished = false;
        const auto connection = QObject::connect(&form, &MainForm::mailCheckFinished, [&finished] { finished = true; });
        form.Label8_Click();
        EXPECT_EQ(form.Label2->text(), QStringLiteral("メールを受信します。")) << c.name;
        ASSERT_TRUE(QTest::qWaitFor([&finished] { return finished; }, 20000)) << c.name;
        QObject::disconnect(connection);
        EXPECT_EQ(form.Label2->text(), QString()) << c.name;
        if (c.said.isEmpty()) {
            EXPECT_TRUE(messages.isEmpty()) << c.name << ": " << messages.join(u'|').toStdString();
        } else {
            ASSERT_EQ(messages.size(), 1) << c.name;
            EXPECT_TRUE(messages[0].contains(c.said)) << c.name << ": " << messages[0].toStdString();
        }
        // The mouse over a hot-spot shows its help again.
        QTest::mouseMove(form.Label9, form.Label9->rect().center());
        EXPECT_EQ(form.Label2->text(), HotSpotLooks()[0].helpText) << c.name;
        QTest::mouseMove(&form, QPoint(form.width() / 2, 5));
    }
    SetMessageAnswerer({});
}

TEST_F(MainFormTest, SmallMinimisesTheWindow) {
    MainForm& form = load();
    QTest::mouseClick(form.Label4, Qt::LeftButton);
    EXPECT_TRUE(form.windowState() & Qt::WindowMinimized);
}

TEST_F(MainFormTest, HotSpotsSitOnThePictureAtTheirPlaces) {
    MainForm& form = load();
    // 96 dpi offscreen: 15 twips a pixel.
    ASSERT_EQ(form.logicalDpiY(), 96);
    EXPECT_EQ(form.size(), QSize(541, 346));
    EXPECT_EQ(form.Label9->geometry(), QRect(48, 88, 81, 21));
    EXPECT_EQ(form.Label11->geometry(), QRect(432, 128, 73, 29));
    EXPECT_EQ(form.Label12[2]->geometry(), QRect(265, 89, 9, 17));
    EXPECT_FALSE(form.Picture->pixmap().isNull()) << "the picture is built into the program";
}

TEST_F(MainFormTest, AFirstStartAsksForTheAccount) {
    load();
    QWidget* setup = nullptr;
    auto findSetup = [&setup] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle() == QStringLiteral("アカウント設定")) setup = w;
        return setup != nullptr;
    };
    ASSERT_TRUE(QTest::qWaitFor(findSetup, 2000));
    // The server window is still one click away, not opened by itself.
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible() && w->windowTitle() == QStringLiteral("サーバー設定"));
}

TEST_F(MainFormTest, EnabledMoodsTickTheirBoxesInTheHiddenSettingsWindow) {
    folder.write(QStringLiteral("sorane.ini"), "POP3=p\r\n");
    folder.write(QStringLiteral("★MailData/CharaData.ini"), "[EXEINI]\r\nNAME2=1\r\nNAME4=1\r\n");
    load();
    ASSERT_TRUE(windows.isSetFormLoaded());
    EXPECT_FALSE(windows.setForm().isVisible());
    // NAME2 is mood 3 (box 5), NAME4 mood 2 (box 1).
    EXPECT_EQ(windows.setForm().TickedMoods(), (MoodFlags{false, true, true, false, false}));
}

TEST_F(MainFormTest, TheSettingsHotSpotRereadsTheFileAndKeepsUnsavedTicks) {
    folder.write(QStringLiteral("sorane.ini"), "POP3=p\r\n");
    MainForm& form = load();
    EXPECT_FALSE(windows.isSetFormLoaded()) << "no mood enabled: not loaded at start";
    windows.setForm().TickEnabledMoods({true, false, false, false, false});  // ticked, not saved
    folder.write(QStringLiteral("★MailData/CharaData.ini"), "[EXEINI]\r\nNAME1=1\r\n");
    QTest::mouseClick(form.Label11, Qt::LeftButton);
    EXPECT_TRUE(windows.setForm().isVisible());
    EXPECT_EQ(windows.setForm().TickedMoods(), (MoodFlags{true, false, false, false, true}));
    EXPECT_TRUE(isWhiteAndBold(form.Label12[4]));
    EXPECT_TRUE(isGreenAndNormal(form.Label12[0])) << "an unsaved tick does not light its indicator";
}

TEST_F(MainFormTest, ThePreviewShowsTheTickedCharactersAndUnloadsTheOthers) {
    folder.write(QStringLiteral("sorane.ini"), "POP3=p\r\n");
    MainForm& form = load();
    windows.SetPreviewInterval(500);
    EXPECT_TRUE(form.Timer2->isActive());
    EXPECT_EQ(form.Timer2->interval(), 500);
    // Moods 3 and 5: windows 5 and 2.
    windows.setForm().TickEnabledMoods({false, false, true, false, true});
    form.Timer2_Timer();
    for (int k = 1; k <= 5; ++k) EXPECT_EQ(windows.characterWindow(k).isVisible(), k == 2 || k == 5) << "Form" << k;
    windows.setForm().Check[1]->setChecked(false);  // box 2: mood 5
    form.Timer2_Timer();
    EXPECT_FALSE(windows.characterWindow(2).isVisible());
    EXPECT_TRUE(windows.characterWindow(5).isVisible());
    // Closing the settings stops the preview; the walking character stays.
    windows.setForm().close();
    EXPECT_FALSE(form.Timer2->isActive());
    EXPECT_TRUE(windows.characterWindow(5).isVisible());
}

// Stands in for the desktop's browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

TEST_F(MainFormTest, HomePageOpensTheProgramsOwnPage) {
    MainForm& form = load();
    UrlCatcher browser;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "open");
    QTest::mouseClick(form.Label5, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    const QString page = folder.path(QStringLiteral("homepage.html"));
    ASSERT_EQ(browser.opened, QList<QUrl>{QUrl::fromLocalFile(page)});
    EXPECT_TRUE(ReadWholeFile(page).value_or(QByteArray()).contains("Lumopet"));
}

TEST_F(MainFormTest, ClosingTheMainWindowEndsTheProgramWhateverElseIsOpen) {
    MainForm& form = load();
    QWidget other;
    other.show();
    QTimer::singleShot(0, &form, [&form] { form.close(); });
    // exec() returns only when the program is told to end. The limit goes
    // with the test, or it would end a later test's loop.
    QObject limit;
    QTimer::singleShot(3000, &limit, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(other.isVisible()) << "the other window ran no closing steps of its own";
}

}  // namespace
}  // namespace lumopet

#include "main_form_test.moc"

namespace lumopet {
namespace {

// The check must not wait for the window thread on every message: here the
// window thread is busy joining the worker and answers nothing, which would
// hang a check that waited. Afterwards the windows hold every row in order
// and the last progress, and a message box shown later still comes after
// the rows that went before it.
TEST_F(MainFormTest, ProgressAndRowsReachTheWindowsWithoutHoldingUpTheCheck) {
    load();
    WindowMailCheckHost host(windows);
    constexpr int kMessages = 1000;
    std::thread check([&host] {
        for (int n = 1; n <= kMessages; ++n) {
            host.showProgress(n, kMessages);
            host.addViewerRow(QString::number(n), QStringLiteral("from"), QStringLiteral("date"));
            host.showInViewer(QString::number(n), QStringLiteral("date"), QStringLiteral("from"), QStringLiteral("body"));
        }
    });
    check.join();
    host.flushPending();
    const ViewerData& viewer = program.viewer;
    ASSERT_EQ(viewer.rows.size(), static_cast<size_t>(kMessages));
    for (int n = 1; n <= kMessages; ++n) ASSERT_EQ(viewer.rows[n - 1].subject, QString::number(n));
    EXPECT_EQ(viewer.subject, QString::number(kMessages));
    EXPECT_EQ(windows.mainForm().Label2->text(), kCheckingText + QStringLiteral("（1000／1000 通目）"));
    host.showArrived(3, 4, 120, 250);
    host.flushPending();
    EXPECT_EQ(windows.mainForm().Label2->text(), kCheckingText + QStringLiteral("（3／4 通目、120／250 MB）"));

    QList<size_t> rowsWhenShown;
    SetMessageAnswerer([&](const MessageRequest&) {
        rowsWhenShown << program.viewer.rows.size();
        return MessageAnswer::Ok;
    });
    std::thread more([&host] {
        host.addViewerRow(QStringLiteral("late"), QStringLiteral("from"), QStringLiteral("date"));
        host.showMessage(QStringLiteral("text"), QStringLiteral("エラー"));
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !rowsWhenShown.isEmpty(); }, 5000));
    more.join();
    SetMessageAnswerer({});
    ASSERT_EQ(rowsWhenShown.size(), 1);
    EXPECT_EQ(rowsWhenShown[0], static_cast<size_t>(kMessages + 1)) << "the row before the box is there when it shows";
}

// A timed check asks nothing: a box, the account window and the question
// whether to trust a certificate become texts for the main window to say.
TEST_F(MainFormTest, AQuietCheckCollectsWhatWouldAsk) {
    load();
    WindowMailCheckHost host(windows);
    QList<MessageRequest> boxes;
    SetMessageAnswerer([&boxes](const MessageRequest& request) {
        boxes << request;
        return MessageAnswer::Ok;
    });
    CertificateDetails certificate;
    certificate.hostPort = QStringLiteral("localhost:995");
    certificate.reason = QStringLiteral("自己署名の証明書です。");
    host.setQuiet(true);
    bool trusted = true;
    std::thread check([&] {
        host.showMessage(QStringLiteral("サーバー 127.0.0.1:1 に接続できません。"), QStringLiteral("エラー"));
        // A notice is no failure.
        host.showMessage(QStringLiteral("分割されたメールが全て揃っていません"), QString());
        host.showIdPassForm();
        trusted = host.askToTrustCertificate(certificate);
    });
    check.join();
    QCoreApplication::processEvents();
    SetMessageAnswerer({});
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_FALSE(trusted);
    EXPECT_FALSE(windows.idPassForm().isVisible());
    const QStringList collected = host.takeCollected();
    ASSERT_EQ(collected.size(), 3) << collected.join(u'|').toStdString();
    EXPECT_EQ(collected[0], QStringLiteral("サーバー 127.0.0.1:1 に接続できません。"));
    EXPECT_EQ(collected[1], kAutoCheckNoAccountText);
    EXPECT_TRUE(collected[2].startsWith(kAutoCheckCertificateText)) << collected[2].toStdString();
    EXPECT_TRUE(collected[2].contains(QStringLiteral("localhost:995")));
    EXPECT_TRUE(collected[2].contains(certificate.reason));
    EXPECT_TRUE(host.takeCollected().isEmpty()) << "taken once";

    // The viewer's list: a quiet check without mail leaves it as it was;
    // one with mail lists only its own, as 受信 does.
    program.viewer.rows = {{QStringLiteral("earlier"), QStringLiteral("from"), QStringLiteral("date")}};
    program.viewer.listedChecks = 5;
    std::thread nothing([&host] { host.clearViewerList(); });
    nothing.join();
    host.flushPending();
    ASSERT_EQ(program.viewer.rows.size(), 1u);
    EXPECT_EQ(program.viewer.rows[0].subject, QStringLiteral("earlier"));
    EXPECT_EQ(program.viewer.listedChecks, 5);
    std::thread mail([&host] {
        host.clearViewerList();
        host.addViewerRow(QStringLiteral("new"), QStringLiteral("from"), QStringLiteral("date"));
        host.addViewerRow(QStringLiteral("newer"), QStringLiteral("from"), QStringLiteral("date"));
    });
    mail.join();
    host.flushPending();
    ASSERT_EQ(program.viewer.rows.size(), 2u);
    EXPECT_EQ(program.viewer.rows[0].subject, QStringLiteral("new"));
    EXPECT_EQ(program.viewer.listedChecks, 6);
    // Back to asking: the box is shown again.
    host.setQuiet(false);
    SetMessageAnswerer([&boxes](const MessageRequest& request) {
        boxes << request;
        return MessageAnswer::Ok;
    });
    std::thread asking([&host] { host.showMessage(QStringLiteral("text"), QStringLiteral("エラー")); });
    EXPECT_TRUE(QTest::qWaitFor([&boxes] { return !boxes.isEmpty(); }, 5000));
    asking.join();
    SetMessageAnswerer({});
    EXPECT_TRUE(host.takeCollected().isEmpty());
}

// Automatic checks against a server that keeps failing: said once in the
// status line, then quiet, until the user clicks 受信 (which asks with its
// box) or the failure changes.
TEST_F(MainFormTest, AnAutomaticChecksFailureIsSaidOnceUntilTheUserAsks) {
    RefusingPop3Server server;
    ASSERT_NE(server.port(), 0);
    const QString refusing = QStringLiteral("127.0.0.1:%1").arg(server.port());
    const auto serverIs = [this](const QString& pop3) {
        folder.write(QStringLiteral("sorane.ini"),
                     QStringLiteral("SMTP=127.0.0.1:1\r\nPOP3=%1\r\nMAIL=a@b\r\nAPOP=0\r\n").arg(pop3).toLatin1());
        ReadServerSettings(program.paths.path(files::ServerSettings), program.values);
    };
    serverIs(refusing);
    folder.write(QStringLiteral("★MailData/iniIdPass.ini"), "[EXEINI]\r\nNAME=alice\r\nNAME2=pw\r\n");
    MainForm& form = load();
    QList<MessageRequest> boxes;
    SetMessageAnswerer([&boxes](const MessageRequest& request) {
        boxes << request;
        return MessageAnswer::Ok;
    });
    QStringList said;
    QObject::connect(&form, &MainForm::autoCheckTroubleSaid, [&said](const QString& text) { said << text; });
    int statusChanges = 0;
    QObject::connect(form.Text1, &QLineEdit::textChanged, [&statusChanges] { ++statusChanges; });
    const auto run = [&form](MailCheckKind kind) {
        QSignalSpy finished(&form, &MainForm::mailCheckFinished);
        if (kind == MailCheckKind::Manual) {
            QTest::mouseClick(form.Label8, Qt::LeftButton);
        } else {
            form.StartMailCheck(kind);
        }
        return finished.wait(20000);
    };
    struct Step {
        const char* what;
        MailCheckKind kind;
        QString pop3;
        int said, boxes, statusChanges;  // counted from the start
        QString inTooltip;
    };
    const Step steps[] = {
        {"the first automatic failure is said", MailCheckKind::Automatic, refusing, 1, 0, 1, QStringLiteral("-ERR refused")},
        {"the same again is not", MailCheckKind::Automatic, refusing, 1, 0, 1, QStringLiteral("-ERR refused")},
        {"and again", MailCheckKind::Automatic, refusing, 1, 0, 1, QStringLiteral("-ERR refused")},
        {"受信 asks with its box", MailCheckKind::Manual, refusing, 1, 1, 1, QStringLiteral("-ERR refused")},
        {"after the click it is said again", MailCheckKind::Automatic, refusing, 2, 1, 1, QStringLiteral("-ERR refused")},
        {"another failure is news", MailCheckKind::Automatic, QStringLiteral("127.0.0.1:1"), 3, 1, 1,
         QStringLiteral("接続できません")},
        {"and it is said once", MailCheckKind::Automatic, QStringLiteral("127.0.0.1:1"), 3, 1, 1,
         QStringLiteral("接続できません")},
    };
    for (const Step& step : steps) {
        serverIs(step.pop3);
        ASSERT_TRUE(run(step.kind)) << step.what;
        EXPECT_EQ(said.size(), step.said) << step.what;
        EXPECT_EQ(boxes.size(), step.boxes) << step.what;
        EXPECT_EQ(statusChanges, step.statusChanges) << step.what;
        EXPECT_EQ(form.Text1->text(), kAutoCheckFailedText) << step.what;
        EXPECT_TRUE(form.Text1->isVisible()) << step.what;
        EXPECT_TRUE(form.Text1->toolTip().contains(step.inTooltip)) << step.what << ": " << form.Text1->toolTip().toStdString();
        EXPECT_FALSE(windows.IsCommandRunning()) << step.what;
    }
    EXPECT_TRUE(said[0].contains(QStringLiteral("-ERR refused"))) << said[0].toStdString();
    SetMessageAnswerer({});
}

// A timed check holds the windows as any check does; the box the user was
// typing in has the keyboard again when it ends.
TEST_F(MainFormTest, AnAutomaticCheckGivesTheKeyboardBack) {
    folder.write(QStringLiteral("sorane.ini"), "SMTP=127.0.0.1:1\r\nPOP3=127.0.0.1:1\r\nMAIL=a@b\r\nAPOP=0\r\n");
    MainForm& form = load();
    QWidget typing;
    auto* box = new QLineEdit(&typing);
    typing.show();
    typing.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&typing));
    box->setFocus();
    ASSERT_TRUE(box->hasFocus());
    QSignalSpy finished(&form, &MainForm::mailCheckFinished);
    form.StartMailCheck(MailCheckKind::Automatic);
    EXPECT_FALSE(typing.isEnabled()) << "held like every check";
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_TRUE(typing.isEnabled());
    EXPECT_TRUE(box->hasFocus());
}

// A timed check that falls due while the user types waits for a pause, so
// that no letter goes to a window the check holds.
TEST_F(MainFormTest, ATimedCheckWaitsWhileTheUserTypes) {
    folder.write(QStringLiteral("sorane.ini"), "SMTP=127.0.0.1:1\r\nPOP3=127.0.0.1:1\r\nMAIL=a@b\r\nAPOP=0\r\n");
    MainForm& form = load();
    QSignalSpy finished(&form, &MainForm::mailCheckFinished);
    program.receive.AutoCheckMinutes = 1;
    form.ApplyReceiveOptions();
    form.autoCheck().setIntervalForTests(1);
    QLineEdit box;
    box.show();
    QElapsedTimer typing;
    typing.start();
    while (typing.elapsed() < 2500) {
        QTest::keyClick(&box, Qt::Key_A);
        QTest::qWait(200);
    }
    EXPECT_EQ(finished.count(), 0) << "a check was due every second";
    EXPECT_FALSE(form.isCheckRunning());
    EXPECT_EQ(box.text().size(), box.text().count(u'a'));
    EXPECT_GE(box.text().size(), 10);
    program.receive.AutoCheckMinutes = 0;
    form.ApplyReceiveOptions();
}

// With the tray on, closing the main window puts it out of sight and the
// program runs on; the tray's 終了 ends it. Where the desktop has no tray,
// there would be no way back: closing ends the program as before.
TEST_F(MainFormTest, WithTheTrayClosingHidesTheMainWindow) {
    struct Case {
        const char* name;
        bool tray;
        bool trayOnDesktop;
        bool hidden;  // hidden and running rather than ended
    };
    const Case cases[] = {
        {"no tray option: closing ends", false, true, false},
        {"tray on: closing hides", true, true, true},
        {"tray on, no tray on the desktop: closing ends", true, false, false},
    };
    for (const Case& c : cases) {
        test::TempFolder home;
        Program own{ProgramPaths(home.path())};
        ASSERT_TRUE(own.paths.createFolders());
        home.write(QStringLiteral("sorane.ini"), "POP3=p\r\n");
        ProgramWindows ownWindows{own};
        MainForm& form = ownWindows.mainForm();
        form.Form_Load();
        form.show();
        form.setTrayAvailability([&c] { return c.trayOnDesktop; });
        own.receive.Tray = c.tray;
        ownWindows.ReceiveOptionsChanged();
        ASSERT_EQ(form.trayIcon() != nullptr, c.tray) << c.name;
        // The time limits go with the case: one left over would end the next
        // case's loop.
        QObject limits;
        QTimer::singleShot(0, &form, [&form] { form.close(); });
        QTimer::singleShot(300, &limits, [] { QCoreApplication::exit(99); });
        EXPECT_EQ(QCoreApplication::exec(), c.hidden ? 99 : 0) << c.name;
        EXPECT_EQ(form.isVisible(), false) << c.name;
        if (!c.hidden) continue;
        // The tray brings it back, and its 終了 ends the program.
        Q_EMIT form.trayIcon()->mainWindowRequested();
        EXPECT_TRUE(form.isVisible()) << c.name;
        QTimer::singleShot(0, form.trayIcon(), [&form] { Q_EMIT form.trayIcon()->quitRequested(); });
        QTimer::singleShot(3000, &limits, [] { QCoreApplication::exit(99); });
        EXPECT_EQ(QCoreApplication::exec(), 0) << c.name;
        own.receive.Tray = false;
        ownWindows.ReceiveOptionsChanged();
    }
    QGuiApplication::setQuitOnLastWindowClosed(true);
}

}  // namespace
}  // namespace lumopet
