#include "app/MainForm.h"

#include "app/auto_mail_check.h"
#include "app/desktop_notifier.h"
#include "app/mail_check_host.h"
#include "app/mail_tray_icon.h"
#include "app/program_windows.h"
#include "app/recent_input.h"
#include "chara/CharacterWindow.h"
#include "compose/draft_keeper.h"
#include "compose/WriteForm.h"
#include "core/clock_text.h"
#include "core/program.h"
#include "core/safe_file.h"
#include "core/settings_files/character_flags.h"
#include "core/settings_files/character_options.h"
#include "core/settings_files/receive_options.h"
#include "core/settings_files/server_settings.h"
#include "mail/mail_library.h"
#include "settings/SetForm.h"
#include "ui/hot_spot_label.h"
#include "ui/message_box.h"
#include "ui/window_helpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <unistd.h>

namespace lumopet {
namespace {

const QString kPictureResource = QStringLiteral(":/lumopet/main_picture.png");
const QString kHomePageResource = QStringLiteral(":/lumopet/homepage.html");
const QString kIconResource = QStringLiteral(":/lumopet/lumopet_icon.png");
const QString kErrorTitle = QStringLiteral("エラー");

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

}  // namespace

MainForm::MainForm(ProgramWindows& windows)
    : windows_(windows),
      program_(windows.program()),
      checkHost_(std::make_unique<WindowMailCheckHost>(windows)),
      autoCheck_(new AutoMailCheck([this] { return isBusyForAutoCheck(); }, this)),
      recentInput_(new RecentInput(this)),
      trayAvailable_([] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {
    // A fixed single border with a close box only: the "Small" hot-spot
    // stands in for the minimise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(kMainCaption);
    setWindowIcon(QIcon(kIconResource));
    setFont(JapaneseFont(9));
    setMouseTracking(true);
    setFixedSize(place(kMainClientArea).size());
    buildControls();
    connect(autoCheck_, &AutoMailCheck::checkDue, this, [this] { StartMailCheck(MailCheckKind::Automatic); });
}

MainForm::~MainForm() {
    // A check still running would call into this window: wait for it.
    if (checkThread_) checkThread_->wait();
}

QRect MainForm::place(const Twips& twips) const { return TwipsToPixels(twips, logicalDpiY()); }

void MainForm::buildControls() {
    Picture = new QLabel(this);
    const QPixmap picture(kPictureResource);
    Picture->setPixmap(picture);
    Picture->setGeometry(QRect(QPoint(0, 0), picture.size()));

    HotSpotLabel** slots[] = {&Label9, &Label8, &Label7, &Label6, &Label10, &Label11, &Label5, &Label4, &Label1};
    for (std::size_t i = 0; i < HotSpotLooks().size(); ++i) {
        const HotSpotLook& look = HotSpotLooks()[i];
        auto* label = new HotSpotLabel(this);
        *slots[i] = label;
        label->setObjectName(QLatin1String(look.name));
        label->setText(look.caption);
        label->setGeometry(place(look.position));
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        setTextColor(label, Qt::white);
        connect(label, &HotSpotLabel::mouseMoved, this, [this, text = look.helpText] {
            if (!isCheckRunning()) ShowHelp(text);
        });
    }
    // The title's line is taller than its label: centred, it loses only
    // blank space above and below, not the feet of its letters.
    Label1->setFont(SerifTitleFont(12));
    Label1->setWordWrap(false);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // One command at a time: while a mail check runs, clicks do nothing.
    auto onClick = [this](HotSpotLabel* label, void (MainForm::*handler)()) {
        connect(label, &HotSpotLabel::clicked, this, [this, handler] {
            if (!windows_.IsCommandRunning()) (this->*handler)();
        });
    };
    onClick(Label4, &MainForm::Label4_Click);
    onClick(Label5, &MainForm::Label5_Click);
    // While the check waits for a sign-in in the browser, 受信 shows its
    // page again (the user may have closed it).
    connect(Label8, &HotSpotLabel::clicked, this, [this] {
        if (preparingLogin_)
            windows_.accountLogin().askedAgain();
        else if (!windows_.IsCommandRunning())
            Label8_Click();
    });
    onClick(Label9, &MainForm::Label9_Click);
    onClick(Label7, &MainForm::Label7_Click);
    onClick(Label6, &MainForm::Label6_Click);
    onClick(Label10, &MainForm::Label10_Click);
    onClick(Label11, &MainForm::Label11_Click);

    Label2 = new QLabel(this);
    Label2->setGeometry(place(kLabel2Position));
    Label2->setFont(JapaneseFont(9.75));
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextColor(Label2, Qt::yellow);

    Label3 = new QLabel(QStringLiteral("Your choice"), this);
    Label3->setGeometry(place(kLabel3Position));
    Label3->setFont(SerifTitleFont(11.25));
    setTextColor(Label3, Qt::white);

    for (int i = 0; i < kMoodCount; ++i) {
        Label12[i] = new QLabel(QString::number(i + 1), this);
        Label12[i]->setObjectName(QStringLiteral("Label12_%1").arg(i));
        Label12[i]->setGeometry(place(kLabel12Positions[i]));
        Label12[i]->setAlignment(Qt::AlignCenter);
    }

    Text1 = new QLineEdit(this);
    Text1->setGeometry(place(kText1Position));
    Text1->setReadOnly(true);
    Text2 = new QLineEdit(this);  // below the client area: never seen
    Text2->setGeometry(place(kText2Position));

    // Every mouse move that reaches the window itself is over bare picture.
    for (QLabel* plain : {Picture, Label2, Label3}) plain->setAttribute(Qt::WA_TransparentForMouseEvents);
    for (QLabel* indicator : Label12) indicator->setAttribute(Qt::WA_TransparentForMouseEvents);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &MainForm::Timer1_Timer);
    Timer2 = new QTimer(this);
    connect(Timer2, &QTimer::timeout, this, &MainForm::Timer2_Timer);
}

HotSpotLabel* MainForm::hotSpot(HotSpot id) const {
    switch (id) {
    case HotSpot::Label9: return Label9;
    case HotSpot::Label8: return Label8;
    case HotSpot::Label7: return Label7;
    case HotSpot::Label6: return Label6;
    case HotSpot::Label10: return Label10;
    case HotSpot::Label11: return Label11;
    case HotSpot::Label5: return Label5;
    case HotSpot::Label4: return Label4;
    case HotSpot::Label1: return Label1;
    }
    return nullptr;
}

void MainForm::Form_Load() {
    // 1. The preview is off and the status line hidden until a mail check.
    Timer2->stop();
    Text1->hide();
    // 2. The compose window, hidden, never starting with a fortune.
    windows_.writeForm().Check1->setChecked(false);
    // 3. The servers, the own address and the login kind.
    // A file that is there and cannot be read is no first start: the user
    // is told which file it is, and the server window is not put up to
    // write over it.
    const Status serversRead = ReadServerSettings(program_.paths.path(files::ServerSettings), program_.values);
    if (!serversRead) ShowError(this, QStringLiteral("エラー"), serversRead.error());
    // The character and account files are read wherever they are needed, and
    // one that cannot be read reads as empty there. Said once, here, the
    // user knows the missing ticks or login are not lost settings; a save
    // never writes over such a file.
    for (const QString& file : {files::CharacterFile, files::AccountFile}) {
        const auto read = ReadFileIfPresent(program_.paths.path(file));
        if (!read) ShowError(this, QStringLiteral("エラー"), read.error());
    }
    // The options of this program beyond the Windows version's files; one
    // that cannot be read leaves them all off, as a folder from Windows has.
    const Result<ReceiveOptions> options = ReadReceiveOptions(program_.paths.path(files::ProgramOptions));
    if (options) {
        program_.receive = options.value();
    } else {
        ShowError(this, QStringLiteral("エラー"), options.error());
    }
    // The characters' manners, in the same file: one that cannot be read
    // was said just above. A quiet-hours value nobody can read silences
    // nothing, and the user is told which.
    if (const Result<CharacterOptions> manners = ReadCharacterOptions(program_.paths.path(files::ProgramOptions))) {
        program_.characters = manners.value();
        const QString quiet = program_.characters.QuietHours.trimmed();
        if (!quiet.isEmpty() && !ParseQuietHours(quiet))
            ShowError(this, QStringLiteral("エラー"), UnreadableQuietHoursText(program_.characters.QuietHours));
    }
    // 4. The mail layer, for the whole run.
    NMailInitializeWinSock();
    NMailSetOption(1, 8192);
    // 5. A first run asks for the account, as soon as the main window is
    // up: the account setup finds the servers from the mail address (the
    // server window stays a click away in 設定).
    if (serversRead && program_.values.Pop3Server.isEmpty())
        QTimer::singleShot(0, this, [this] { windows_.ShowAccountSetupForm(); });
    // 6 and 7. The indicators, and the boxes of the character settings
    // (loaded hidden) for the enabled characters.
    ShowEnabledMoods(MoodFlags{});
    const MoodFlags enabled = ReadCharacterFlags(program_.paths.path(files::CharacterFile));
    if (std::find(enabled.begin(), enabled.end(), true) != enabled.end()) {
        windows_.setForm().TickEnabledMoods(enabled);
        LightEnabledMoods(enabled);
    }

    Timer1_Timer();
    Timer1->start();
    move(screen()->availableGeometry().center() - rect().center());
    ApplyReceiveOptions();
}

void MainForm::ShowEnabledMoods(const MoodFlags& enabled) {
    shownMoods_ = enabled;
    for (int i = 0; i < kMoodCount; ++i) {
        const IndicatorLook look = IndicatorLookFor(enabled[i]);
        setTextColor(Label12[i], look.color);
        QFont font = Label12[i]->font();
        font.setBold(look.bold);
        Label12[i]->setFont(font);
    }
}

void MainForm::LightEnabledMoods(const MoodFlags& enabled) {
    MoodFlags shown;
    for (int i = 0; i < kMoodCount; ++i) shown[i] = enabled[i] || shownMoods_[i];
    ShowEnabledMoods(shown);
}

void MainForm::Timer1_Timer() { Text2->setText(ClockText(QDateTime::currentDateTime())); }

// The character preview: the characters of the ticked boxes walk, the
// others go.
void MainForm::Timer2_Timer() {
    Timer1_Timer();
    SetForm& settings = windows_.setForm();
    for (int k = 1; k <= kMoodCount; ++k)
        if (settings.IsBoxTicked(k)) windows_.characterWindow(k).Show();
    for (int k = 1; k <= kMoodCount; ++k)
        if (!settings.IsBoxTicked(k)) windows_.characterWindow(k).Unload();
}

void MainForm::Label11_Click() {
    const MoodFlags enabled = ReadCharacterFlags(program_.paths.path(files::CharacterFile));
    windows_.setForm().TickEnabledMoods(enabled);
    LightEnabledMoods(enabled);
    windows_.ShowSetForm();
}

void MainForm::ShowHelp(const QString& text) {
    if (Label2->text() != text) Label2->setText(text);
}

void MainForm::mouseMoveEvent(QMouseEvent* event) {
    if (!isCheckRunning()) ShowHelp(QString());
    QWidget::mouseMoveEvent(event);
}

void MainForm::Label4_Click() { setWindowState(windowState() | Qt::WindowMinimized); }

void MainForm::Label5_Click() {
    // The home page ships in the program folder; a folder of one's own (as
    // LUMOPET_HOME gives) gets a copy of the page built into the program.
    const QString page = program_.paths.path(files::HomePage);
    if (!QFileInfo::exists(page) && QFile::copy(kHomePageResource, page))
        QFile::setPermissions(page, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (!QFileInfo::exists(page) || !QDesktopServices::openUrl(QUrl::fromLocalFile(page)))
        ShowNotice(this, QStringLiteral("ホームページを開けませんでした。ブラウザーで次のファイルを開いてください。\n%1").arg(page));
}

void MainForm::Label9_Click() { windows_.ShowWriteForm(); }

void MainForm::Label10_Click() { windows_.ShowFriendForm(); }

void MainForm::Label7_Click() { windows_.ShowTyakuForm(History::Received); }

void MainForm::Label6_Click() { windows_.ShowTyakuForm(History::Sent); }

void MainForm::Label8_Click() { StartMailCheck(MailCheckKind::Manual); }

void MainForm::StartMailCheck(MailCheckKind kind) {
    if (checkThread_ || preparingLogin_) return;
    const bool automatic = kind == MailCheckKind::Automatic;
    if (!automatic) {
        Label2->setText(kReceivingText);
        // The user asked, and is answered with boxes: what fails next is
        // news again.
        autoReport_.manualCheck();
    }
    checkHost_->setQuiet(automatic);
    // Holding the windows takes the keyboard from the one the user is in;
    // a check nobody asked for gives it back when it ends.
    focusBeforeCheck_ = automatic ? QApplication::focusWidget() : nullptr;
    windows_.HoldCommands(this, true);
    autoCheck_->checkStarted();
    // Made here, on the window thread (a token may need a refresh, or a
    // sign-in in the browser first): the worker gets the login as a value.
    loginRenewed_ = false;
    preparingLogin_ = true;
    // While a token is had (a sign-in in the browser), the line says so.
    connect(&windows_.accountLogin(), &AccountLogin::statusText, this, &MainForm::ShowHelp, Qt::UniqueConnection);
    windows_.accountLogin().prepare(!automatic, [this](const LoginAnswer& answer) { runMailCheck(answer); });
}

void MainForm::runMailCheck(const LoginAnswer& answer) {
    preparingLogin_ = false;
    if (answer.signInRevoked || answer.tokenMissing()) {
        // No token to log in with: said as a failed login is (a box, or
        // for a timed check its trouble), and the check ends here.
        checkHost_->showMessage(answer.text, kErrorTitle);
        checkResult_ = MailCheckResult{};
        checkResult_.MailCount = -1;
        finishMailCheck();
        return;
    }
    checkThread_ = QThread::create(
        [this, login = answer.credentials] { checkResult_ = ReceiveMail(program_, *checkHost_, login); });
    connect(checkThread_, &QThread::finished, this, &MainForm::mailCheckDone);
    checkThread_->start();
}

void MainForm::mailCheckDone() {
    checkHost_->flushPending();
    checkThread_->deleteLater();
    checkThread_ = nullptr;
    if (checkResult_.LoginRefused && !loginRenewed_) {
        // The server refused the token (expired early, or revoked): one
        // refresh, and the check runs again with the new one.
        loginRenewed_ = true;
        preparingLogin_ = true;
        windows_.accountLogin().renewAfterRefusal([this](LoginAnswer answer) {
            if (answer.tokenMissing() && answer.text.isEmpty()) answer.text = checkResult_.LoginRefusal;
            runMailCheck(answer);
        });
        return;
    }
    if (checkResult_.LoginRefused) checkHost_->showMessage(checkResult_.LoginRefusal, kErrorTitle);
    finishMailCheck();
}

void MainForm::finishMailCheck() {
    windows_.HoldCommands(this, false);
    if (focusBeforeCheck_ && focusBeforeCheck_->isEnabled() && focusBeforeCheck_->window()->isActiveWindow())
        focusBeforeCheck_->setFocus(Qt::OtherFocusReason);
    focusBeforeCheck_ = nullptr;
    // The line said that a check was running, and it no longer is. What the
    // check found goes into its own box (新着メール N 通／無し) or a message
    // box, so the line goes back to waiting for the mouse.
    ShowHelp(QString());
    const bool automatic = checkHost_->quiet();
    const QStringList trouble = checkHost_->takeCollected();
    checkHost_->setQuiet(false);
    bool troubleIsNews = false;
    if (automatic) {
        troubleIsNews = autoReport_.shouldSay(trouble);
        reportAutomaticCheck(checkResult_, trouble, troubleIsNews);
    } else {
        ReportMailCheck(checkResult_);
    }
    tellDesktop(checkResult_, trouble, troubleIsNews);
    autoCheck_->checkFinished();
    Q_EMIT mailCheckFinished();
}

// A quiet check that found nothing says nothing: whatever the line said
// before (新着メール 2 通 an hour ago) stays, so that mail found while the
// user was away is not talked over.
void MainForm::reportAutomaticCheck(const MailCheckResult& result, const QStringList& trouble, bool troubleIsNews) {
    const QString said = troubleIsNews ? trouble.join(u'\n') : QString();
    if (result.MailCount >= 1 || result.JunkCount >= 1) {
        // New mail is what the line is for; trouble beside it (a message
        // that could not be stored) is in its tooltip.
        ReportMailCheck(result);
        Text1->setToolTip(said);
        troubleInStatusLine_ = false;
    } else if (troubleIsNews) {
        Text1->show();
        Text1->setText(kAutoCheckFailedText);
        Text1->setToolTip(said);
        troubleInStatusLine_ = true;
    } else if (trouble.isEmpty() && troubleInStatusLine_ && result.MailCount == 0 && !result.ConnectionFailed) {
        // The trouble the line told of is over.
        Text1->setText(QStringLiteral("新着メール無し。"));
        Text1->setToolTip(QString());
        troubleInStatusLine_ = false;
    }
    if (troubleIsNews) Q_EMIT autoCheckTroubleSaid(said);
}

void MainForm::tellDesktop(const MailCheckResult& result, const QStringList& trouble, bool troubleIsNews) {
    QString outcome;
    if (result.MailCount >= 1 || result.JunkCount >= 1) {
        outcome = NewMailCountText(result.MailCount, result.JunkCount);
    } else if (!trouble.isEmpty()) {
        outcome = FailureKey(trouble).section(u'\n', 0, 0);
    } else if (result.MailCount < 0 || result.ConnectionFailed) {
        outcome = QStringLiteral("メールのチェックに失敗しました。");
    } else {
        outcome = QStringLiteral("新着メール無し");
    }
    if (tray_) {
        tray_->setLastCheck(QDateTime::currentDateTime(), outcome);
        if (result.MailCount >= 1) tray_->setUnread(true);
    }
    if (!program_.receive.Notify) return;
    if (!notifier_) makeNotifier();
    // In the quiet hours new mail is stored and counted, and says nothing.
    if (result.MailCount >= 1 && !IsQuietAt(program_.characters, program_.timeOfDay())) {
        notifier_->notifyNewMail(NewMailNotificationTitle(result.MailCount), NewMailNotificationBody(result.FirstNewMail));
    } else if (troubleIsNews) {
        notifier_->notifyNewMail(kAutoCheckFailedTitle, trouble.join(u'\n'));
    }
}

void MainForm::ReportMailCheck(const MailCheckResult& result) {
    if (result.MailCount >= 1 || result.JunkCount >= 1) {
        Text1->show();
        Text1->setText(NewMailCountText(result.MailCount, result.JunkCount));
        // Junk walks no character; in the quiet hours mail walks none either.
        if (result.MailCount >= 1 && !IsQuietAt(program_.characters, program_.timeOfDay())) {
            if (result.MoodTag >= 1 && result.MoodTag <= kMoodCount) {
                windows_.characterWindow(LinkOfMood(result.MoodTag).window).Show();
            } else {
                SetForm& settings = windows_.setForm();
                for (int k = 1; k <= kMoodCount; ++k)
                    if (settings.IsBoxTicked(k)) windows_.characterWindow(k).Show();
            }
        }
    } else if (result.ConnectionFailed) {
        // "No new mail" here would say the setup works.
        Text1->show();
        Text1->setText(QStringLiteral("メールのチェックに失敗しました。"));
    } else if (result.MailCount == 0) {
        Text1->show();
        Text1->setText(QStringLiteral("新着メール無し。"));
    }
    if (result.MailCount >= 0) {
        Text1->setToolTip(QString());
        troubleInStatusLine_ = false;
    }
    // The check used the clock box as its work space; the next tick fills
    // it again.
    Text2->clear();
}

void MainForm::closeEvent(QCloseEvent* event) {
    // With the tray on, the program lives on in the tray: the window only
    // goes out of sight, and the tray's 終了 ends the program.
    if (tray_ && tray_->isShown() && trayAvailable_ && trayAvailable_()) {
        event->ignore();
        hide();
        hiddenToTray_ = true;
        return;
    }
    event->accept();
    EndProgram();
}

void MainForm::EndProgram() {
    // Closing the main window ends the program at once: the other windows
    // go with it, without asking and without their own closing steps.
    // What they hold is kept first: every compose and reply window writes
    // its draft, so the next start offers it back.
    for (const QString& failure : DraftKeeper::saveAll()) qWarning("%s", qUtf8Printable(failure));
    // In the middle of a check or a send, too: no deletion has been
    // committed, so every message is on the server or in the history, and
    // a message cut off before its end is not delivered.
    if (windows_.IsCommandRunning()) ::_exit(0);
    NMailEndWinSock();
    QCoreApplication::exit(0);
}

bool MainForm::isBusyForAutoCheck() const {
    // A box waiting for an answer, or a window whose settings are half
    // typed in: the check would read the files under the user's hands, or
    // hold the window the user is working in. Someone typing a letter gets
    // to finish the sentence first.
    return isCheckRunning() || windows_.IsCommandRunning() || QApplication::activeModalWidget() != nullptr ||
           windows_.IsSettingsWindowOpen() || recentInput_->within(RecentInput::kPauseMilliseconds);
}

// The tray's menu is outside every window: it must keep the one command
// at a time that the hot-spots keep, and not go round a box that waits.
bool MainForm::commandsFree() const { return !windows_.IsCommandRunning() && !QApplication::activeModalWidget(); }

void MainForm::ApplyReceiveOptions() {
    const ReceiveOptions& options = program_.receive;
    autoCheck_->setMinutes(options.AutoCheckMinutes);
    if (options.Tray && !tray_) makeTrayIcon();
    if (tray_) tray_->setShown(options.Tray);
    // The windows of the program end with the main window, never by
    // themselves: with the main window in the tray, closing the viewer
    // must not end the program.
    QGuiApplication::setQuitOnLastWindowClosed(!options.Tray);
    if (!options.Tray && hiddenToTray_) {
        hiddenToTray_ = false;
        show();
    }
    if (options.Notify && !notifier_) makeNotifier();
}

void MainForm::ReceivedHistoryOpened() {
    if (tray_) tray_->setUnread(false);
}

void MainForm::makeTrayIcon() {
    tray_ = new MailTrayIcon(this);
    auto command = [this](void (MainForm::*handler)()) {
        return [this, handler] {
            if (commandsFree()) (this->*handler)();
        };
    };
    connect(tray_, &MailTrayIcon::receiveRequested, this, command(&MainForm::Label8_Click));
    connect(tray_, &MailTrayIcon::composeRequested, this, command(&MainForm::Label9_Click));
    connect(tray_, &MailTrayIcon::receivedHistoryRequested, this, command(&MainForm::Label7_Click));
    connect(tray_, &MailTrayIcon::mainWindowRequested, this, [this] {
        hiddenToTray_ = false;
        if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        raise();
        activateWindow();
    });
    connect(tray_, &MailTrayIcon::quitRequested, this, &MainForm::EndProgram);
}

void MainForm::makeNotifier() {
    notifier_ = new DesktopNotifier(notificationBus_ ? *notificationBus_ : QDBusConnection::sessionBus(), this);
    connect(notifier_, &DesktopNotifier::openRequested, this, [this] {
        if (commandsFree()) Label7_Click();
    });
}

}  // namespace lumopet
