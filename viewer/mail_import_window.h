#pragma once
// メールの取り込み: a small modal window that takes mail from an mbox file,
// .eml files or a Maildir folder into the received history. The import
// runs on a thread of its own; the window shows its count, and キャンセル
// stops it after the message in hand, keeping what was stored.

#include "mail/mail_import.h"

#include <QDialog>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QThread;
class QTimer;

namespace lumopet {

struct Program;

// Opens the window over parent and returns when it is closed.
// onRecordsAdded runs (on the window thread) once an import has stored
// records, so that the viewer can list them.
void ShowMailImportWindow(QWidget* parent, Program& program, std::function<void()> onRecordsAdded);

class MailImportWindow : public QDialog {
    Q_OBJECT
public:
    MailImportWindow(QWidget* parent, Program& program, std::function<void()> onRecordsAdded);
    ~MailImportWindow() override;

    // The controls, for the tests.
    QRadioButton* mboxChoice = nullptr;
    QRadioButton* emlChoice = nullptr;
    QRadioButton* maildirChoice = nullptr;
    QLineEdit* sourceText = nullptr;
    QPushButton* chooseButton = nullptr;
    QCheckBox* attachmentsBox = nullptr;
    QPushButton* startButton = nullptr;
    QPushButton* cancelButton = nullptr;  // キャンセル while running, 閉じる otherwise
    QProgressBar* progressBar = nullptr;
    QLabel* countLabel = nullptr;
    QLabel* resultLabel = nullptr;

    bool isRunning() const { return worker_ != nullptr; }
    // The source chosen so far (a test sets it without a dialog).
    void setSource(MailSourceKind kind, const QStringList& paths);
    // What the last import came to.
    const MailImportResult& lastResult() const { return result_; }

    // The count line: "N 通を取り込みました" and what was skipped.
    static QString CountText(const MailImportProgress& progress);

Q_SIGNALS:
    void importFinished();

protected:
    void reject() override;

private:
    void chooseSource();
    void start();
    void showProgress();
    void finish();
    MailSourceKind chosenKind() const;

    Program& program_;
    std::function<void()> onRecordsAdded_;
    QStringList paths_;
    QThread* worker_ = nullptr;
    QTimer* poll_ = nullptr;
    std::atomic<bool> cancel_{false};
    // Written by the import's thread, read by the timer.
    std::atomic<int> taken_{0};
    std::atomic<int> skipped_{0};
    std::atomic<qint64> bytesRead_{0};
    std::atomic<qint64> bytesTotal_{0};
    MailImportResult result_;
};

}  // namespace lumopet
