#pragma once
// The main window: a picture with hot-spots that open the program's
// functions, a help line, the mood indicators and the clock. It holds no
// logic of its own; it calls the settings files and the mail layer.

#include "app/main_form_layout.h"
#include "core/moods.h"
#include "mail/receive_mail.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QLabel;
class QThread;
class QLineEdit;
class QTimer;

namespace lumopet {

class HotSpotLabel;
class ProgramWindows;
class WindowMailCheckHost;
struct Program;

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
    // The end of a mail check: the status line and the characters.
    void ReportMailCheck(const MailCheckResult& result);
    bool isCheckRunning() const { return checkThread_ != nullptr; }
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

protected:
    void mouseMoveEvent(QMouseEvent* event) override;  // Form_MouseMove
    void closeEvent(QCloseEvent* event) override;      // Form_QueryUnload, Form_Unload

private:
    QRect place(const Twips& twips) const;
    void buildControls();
    void mailCheckDone();

    ProgramWindows& windows_;
    Program& program_;
    MoodFlags shownMoods_{};  // what the indicators show
    std::unique_ptr<WindowMailCheckHost> checkHost_;
    QThread* checkThread_ = nullptr;
    MailCheckResult checkResult_;
};

}  // namespace lumopet
