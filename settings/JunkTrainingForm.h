#pragma once
// 迷惑メールの学習: offered when the user ticks 迷惑メールを振り分ける. It
// teaches bogofilter the received history's mail as not junk, and a folder
// or an mbox file of junk the user names as junk, one run at a time, each
// on a thread of its own with its count and 中止. The user may close it
// without learning anything; closing it during a run stops the run.

#include "mail/junk_filter.h"

#include <QDialog>
#include <QString>

#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace lumopet {

class JunkTrainingRun;
struct Program;

class JunkTrainingForm : public QDialog {
    Q_OBJECT
public:
    // Application-modal: no check, send or timed check reads the word list
    // while it is being written.
    explicit JunkTrainingForm(Program& program, QWidget* parent = nullptr);
    ~JunkTrainingForm() override;

    // The received history as not junk.
    void HistoryCommand_Click();
    // The folder or mbox file chosen as junk.
    void JunkCommand_Click();
    void FolderCommand_Click();
    void MboxCommand_Click();
    void StopCommand_Click();

    // The junk to learn (the choosers set it; so may a test).
    void SetJunkPlace(const QString& place);
    bool IsRunning() const;

    QLabel* IntroLabel;
    QGroupBox* HistoryFrame;
    QLabel* HistoryLabel;
    // Shown only when the junk history holds records.
    QLabel* JunkHistoryNote;
    QPushButton* HistoryCommand;
    QGroupBox* JunkFrame;
    QLabel* JunkLabel;
    QLineEdit* PlaceText;
    QPushButton* FolderCommand;
    QPushButton* MboxCommand;
    QPushButton* JunkCommand;
    QProgressBar* ProgressBar;
    QLabel* ProgressLabel;
    QLabel* ResultLabel;
    QPushButton* StopCommand;
    QPushButton* CloseCommand;

Q_SIGNALS:
    // A run has ended (learnt, stopped or failed) and ResultLabel says so.
    void trainingFinished();

protected:
    // 閉じる, Esc and the close box: during a run they stop it, and the
    // window closes once it has stopped.
    void reject() override;

private:
    void start(std::unique_ptr<JunkTrainingRun> run);
    void showProgress();
    void finish();
    void enableControls();

    Program& program_;
    QString junkPlace_;
    std::unique_ptr<JunkTrainingRun> run_;
    QTimer* poll_;
    bool closeWhenStopped_ = false;
};

}  // namespace lumopet
