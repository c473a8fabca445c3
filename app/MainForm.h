#pragma once
// The main window: a picture with hot-spots that open the program's
// functions, a help line, the mood indicators and the clock. It holds no
// logic of its own; it calls the settings files and the mail layer.

#include "app/auto_check_report.h"
#include "app/main_form_layout.h"
#include "core/moods.h"
#include "mail/receive_mail.h"
#include "mail/transport/account_login.h"

#include <QDBusConnection>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QThread;
class QLineEdit;
class QTimer;

namespace lumopet {

class AutoMailCheck;
class DesktopNotifier;
class HotSpotLabel;
class MailTrayIcon;
class ProgramWindows;
class RecentInput;
class WindowMailCheckHost;
struct Program;

// 受信 asks with boxes; a timed check asks nothing and says its trouble once.
enum class MailCheckKind { Manual, Automatic };

class MainForm : public QWidget {
    Q_OBJECT
public:
    explicit MainForm(ProgramWindows& windows);
    ~MainForm() override;

    void Form_Load();

    // The indicators: enabled moods white and bold, the others green.
    void ShowEnabledMoods(const MoodFlags& enabled);
    // Only the enabled moods turn white and bold; the others stay as they are.
    void LightEnabledMoods(const MoodFlags& enabled);

    void Timer1_Timer();
    void Timer2_Timer();
    void Label4_Click();
    void Label5_Click();
    void Label8_Click();
    void Label9_Click();   // 新規作成
    void Label10_Click();  // アドレス帳
    void Label7_Click();   // 着信履歴
    void Label6_Click();   // 送信履歴
    void Label11_Click();
    // A mail check on the worker thread, while the program takes no other
    // command. Label8_Click starts the user's own.
    void StartMailCheck(MailCheckKind kind);
    // The end of a mail check: the status line and the characters.
    void ReportMailCheck(const MailCheckResult& result);
    bool isCheckRunning() const { return checkThread_ != nullptr || preparingLogin_; }

    // The program's options (Program::receive) as they are now: the timer,
    // the tray icon, the notifications.
    void ApplyReceiveOptions();
    // The received history was opened: no unread mail in the tray any more.
    void ReceivedHistoryOpened();
    // Ends the program as closing the main window does without the tray:
    // the program's one way out (also a character's right click, SIGTERM,
    // the tray's 終了). Every window's draft is written first.
    void EndProgram();
    AutoMailCheck& autoCheck() { return *autoCheck_; }
    // Made when their options are first turned on; null before.
    MailTrayIcon* trayIcon() const { return tray_; }
    DesktopNotifier* notifier() const { return notifier_; }
    // Whether the desktop shows tray icons at all. Without one, closing the
    // main window ends the program even with the tray on: there would be no
    // way back to it. Tests put in a desktop of their own.
    void setTrayAvailability(std::function<bool()> available) { trayAvailable_ = std::move(available); }
    // The session bus the notifications go to; tests bring a bus of their
    // own. Before Form_Load.
    void setNotificationBus(const QDBusConnection& bus) { notificationBus_ = bus; }
    void ShowHelp(const QString& text);

    HotSpotLabel* hotSpot(HotSpot id) const;

    // The controls, by the names the rest of the program uses.
    QLabel* Picture;
    HotSpotLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    HotSpotLabel* Label4;
    HotSpotLabel* Label5;
    HotSpotLabel* Label6;
    HotSpotLabel* Label7;
    HotSpotLabel* Label8;
    HotSpotLabel* Label9;
    HotSpotLabel* Label10;
    HotSpotLabel* Label11;
    std::array<QLabel*, kMoodCount> Label12;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QTimer* Timer1;
    QTimer* Timer2;

Q_SIGNALS:
    void mailCheckFinished();
    // An automatic check's trouble was said, all of its text.
    void autoCheckTroubleSaid(const QString& text);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;  // Form_MouseMove
    void closeEvent(QCloseEvent* event) override;      // Form_QueryUnload, Form_Unload

private:
    QRect place(const Twips& twips) const;
    void buildControls();
    void runMailCheck(const LoginAnswer& answer);
    void mailCheckDone();
    void finishMailCheck();
    void reportAutomaticCheck(const MailCheckResult& result, const QStringList& trouble, bool troubleIsNews);
    void tellDesktop(const MailCheckResult& result, const QStringList& trouble, bool troubleIsNews);
    bool isBusyForAutoCheck() const;
    bool commandsFree() const;
    void makeTrayIcon();
    void makeNotifier();

    ProgramWindows& windows_;
    Program& program_;
    MoodFlags shownMoods_{};  // what the indicators show
    std::unique_ptr<WindowMailCheckHost> checkHost_;
    QThread* checkThread_ = nullptr;
    // The check waits for its login (a token refresh, a browser sign-in).
    bool preparingLogin_ = false;
    // This check refreshed its token after a refused login already.
    bool loginRenewed_ = false;
    MailCheckResult checkResult_;
    AutoMailCheck* autoCheck_;
    RecentInput* recentInput_;
    AutoCheckReport autoReport_;
    bool troubleInStatusLine_ = false;  // Text1 says an automatic check's trouble
    MailTrayIcon* tray_ = nullptr;
    DesktopNotifier* notifier_ = nullptr;
    std::function<bool()> trayAvailable_;
    std::optional<QDBusConnection> notificationBus_;  // none: the session bus, met only when needed
    bool hiddenToTray_ = false;
    // Where the user was typing when a timed check took the windows.
    QPointer<QWidget> focusBeforeCheck_;
};

}  // namespace lumopet
