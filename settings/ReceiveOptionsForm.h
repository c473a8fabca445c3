#pragma once
// "受信の設定": the options of lumopet.ini's [Receive], which the Windows
// version did not have. 保存 writes the file and only then puts the options
// into the program, so that what the program does is always what its next
// start will read. A file that could not be read shows the defaults here
// and stays as it is unless the user saves.

#include "core/settings_files/receive_options.h"
#include "settings/receive_options_help.h"

#include <QPointer>
#include <QWidget>

#include <utility>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace lumopet {

class JunkTrainingForm;
class WindowDirectory;
struct Program;

class ReceiveOptionsForm : public QWidget {
    Q_OBJECT
public:
    explicit ReceiveOptionsForm(WindowDirectory& windows, QWidget* parent = nullptr);

    void Form_Load();
    void SaveCommand_Click();
    void CancelCommand_Click();
    // The user ticked or cleared 迷惑メールを振り分ける (never called when the
    // window shows the file): a tick offers the training window.
    void JunkCheck_Click(bool checked);

    // The boxes show these options.
    void ShowOptions(const ReceiveOptions& options);
    // What the boxes say now.
    ReceiveOptions ChosenOptions() const;

    QGroupBox* Frame1;  // receiving
    QCheckBox* AutoCheck;
    QSpinBox* AutoMinutes;
    QLabel* AutoMinutesLabel;
    QCheckBox* LeaveCheck;
    QCheckBox* DeleteAfterCheck;
    QSpinBox* DeleteAfterDays;
    QLabel* DeleteAfterLabel;
    QCheckBox* DeleteWithHistoryCheck;
    QGroupBox* Frame2;  // telling the user
    QCheckBox* TrayCheck;
    QCheckBox* NotifyCheck;
    QGroupBox* Frame3;  // junk
    QCheckBox* JunkCheck;
    // The training window the last tick offered, while it is open.
    QPointer<JunkTrainingForm> TrainingForm;
    QLabel* HelpLabel;  // the help line
    QPushButton* SaveCommand;
    QPushButton* CancelCommand;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRect place(int left, int top, int width, int height) const;
    // A number box is open only while its option is ticked; the options of
    // mail left on the server, only while that is ticked.
    void enableDependents();
    void showHelp(ReceiveOptionsTopic topic);
    void helpOver(QWidget* control, ReceiveOptionsTopic topic);

    WindowDirectory& windows_;
    Program& program_;
    std::vector<std::pair<QObject*, ReceiveOptionsTopic>> topics_;
};

}  // namespace lumopet
