#include "settings/JunkTrainingForm.h"

#include "core/program.h"
#include "settings/junk_training_run.h"
#include "ui/file_dialog.h"
#include "ui/window_helpers.h"

#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace lumopet {
namespace {

QLabel* wrappedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

QPushButton* button(const QString& caption, QWidget* parent) {
    auto* made = new QPushButton(caption, parent);
    made->setAutoDefault(false);
    return made;
}

// Where the choosers open: where the last junk came from, else home.
QString& lastFolder() {
    static QString folder = QDir::homePath();
    return folder;
}

}  // namespace

JunkTrainingForm::JunkTrainingForm(Program& program, QWidget* parent)
    : QDialog(parent), program_(program), poll_(new QTimer(this)) {
    setWindowTitle(QStringLiteral("迷惑メールの学習"));
    setFont(JapaneseFont(9));
    setWindowModality(Qt::ApplicationModal);
    setMinimumWidth(480);

    auto* layout = new QVBoxLayout(this);
    IntroLabel = wrappedLabel(QStringLiteral("迷惑メールを見分けられるように、今あるメールを bogofilter に学習させます。"
                                             "学習しないで閉じることもできますが、学習したメールが多いほど正しく振り分けられます。"),
                              this);
    layout->addWidget(IntroLabel);

    HistoryFrame = new QGroupBox(QStringLiteral("迷惑メールではないメール"), this);
    auto* historyLayout = new QVBoxLayout(HistoryFrame);
    HistoryLabel = wrappedLabel(QStringLiteral("着信履歴のメールを、迷惑メールではないメールとして学習します。"), HistoryFrame);
    historyLayout->addWidget(HistoryLabel);
    // The junk history's copies lie in the received Maildir with the
    // others; they are looked for and left out, which takes a while the
    // first time.
    JunkHistoryNote = wrappedLabel(QStringLiteral("迷惑メールの履歴にあるメールは、迷惑メールではないメールとしては学習しません"
                                                  "（初めは探すのに時間がかかることがあります）。"),
                                   HistoryFrame);
    JunkHistoryNote->setVisible(JunkHistoryHasRecords(program_.paths));
    historyLayout->addWidget(JunkHistoryNote);
    auto* historyRow = new QHBoxLayout;
    historyRow->addStretch();
    HistoryCommand = button(QStringLiteral("着信履歴を学習(&R)"), HistoryFrame);
    historyRow->addWidget(HistoryCommand);
    historyLayout->addLayout(historyRow);
    layout->addWidget(HistoryFrame);

    JunkFrame = new QGroupBox(QStringLiteral("迷惑メール"), this);
    auto* junkLayout = new QVBoxLayout(JunkFrame);
    JunkLabel = wrappedLabel(QStringLiteral("迷惑メールを集めたフォルダ（Maildir やメールファイルのフォルダ）か mbox "
                                            "ファイルを選んで、迷惑メールとして学習します。"),
                             JunkFrame);
    junkLayout->addWidget(JunkLabel);
    auto* placeRow = new QHBoxLayout;
    PlaceText = new QLineEdit(JunkFrame);
    PlaceText->setReadOnly(true);
    PlaceText->setPlaceholderText(QStringLiteral("フォルダか mbox ファイル"));
    FolderCommand = button(QStringLiteral("フォルダ(&F)..."), JunkFrame);
    MboxCommand = button(QStringLiteral("mbox ファイル(&M)..."), JunkFrame);
    placeRow->addWidget(PlaceText, 1);
    placeRow->addWidget(FolderCommand);
    placeRow->addWidget(MboxCommand);
    junkLayout->addLayout(placeRow);
    auto* junkRow = new QHBoxLayout;
    junkRow->addStretch();
    JunkCommand = button(QStringLiteral("迷惑メールとして学習(&J)"), JunkFrame);
    junkRow->addWidget(JunkCommand);
    junkLayout->addLayout(junkRow);
    layout->addWidget(JunkFrame);

    ProgressBar = new QProgressBar(this);
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    layout->addWidget(ProgressBar);
    ProgressLabel = new QLabel(this);
    layout->addWidget(ProgressLabel);
    ResultLabel = wrappedLabel(QString(), this);
    ResultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(ResultLabel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    StopCommand = button(QStringLiteral("中止"), this);
    CloseCommand = button(QStringLiteral("閉じる"), this);
    buttons->addWidget(StopCommand);
    buttons->addWidget(CloseCommand);
    layout->addLayout(buttons);

    connect(HistoryCommand, &QPushButton::clicked, this, &JunkTrainingForm::HistoryCommand_Click);
    connect(JunkCommand, &QPushButton::clicked, this, &JunkTrainingForm::JunkCommand_Click);
    connect(FolderCommand, &QPushButton::clicked, this, &JunkTrainingForm::FolderCommand_Click);
    connect(MboxCommand, &QPushButton::clicked, this, &JunkTrainingForm::MboxCommand_Click);
    connect(StopCommand, &QPushButton::clicked, this, &JunkTrainingForm::StopCommand_Click);
    connect(CloseCommand, &QPushButton::clicked, this, &JunkTrainingForm::reject);

    poll_->setInterval(100);
    connect(poll_, &QTimer::timeout, this, &JunkTrainingForm::showProgress);
    enableControls();
}

JunkTrainingForm::~JunkTrainingForm() = default;

bool JunkTrainingForm::IsRunning() const { return run_ && run_->isRunning(); }

void JunkTrainingForm::HistoryCommand_Click() { start(std::make_unique<JunkTrainingRun>(program_.paths)); }

void JunkTrainingForm::JunkCommand_Click() {
    if (!junkPlace_.isEmpty())
        start(std::make_unique<JunkTrainingRun>(program_.paths, junkPlace_, junk::Verdict::Junk));
}

void JunkTrainingForm::FolderCommand_Click() {
    const QString folder =
        ChooseFolder(this, {QStringLiteral("迷惑メールのフォルダを選んでください"), lastFolder()});
    if (folder.isEmpty()) return;
    lastFolder() = QFileInfo(folder).absolutePath();
    SetJunkPlace(folder);
}

void JunkTrainingForm::MboxCommand_Click() {
    const QString file = ChooseFileToOpen(this, {QStringLiteral("迷惑メールの mbox ファイルを選んでください"), lastFolder(),
                                                 QStringLiteral("mbox ファイル (*.mbox *.mbx *);;すべてのファイル (*)")});
    if (file.isEmpty()) return;
    lastFolder() = QFileInfo(file).absolutePath();
    SetJunkPlace(file);
}

void JunkTrainingForm::SetJunkPlace(const QString& place) {
    junkPlace_ = place;
    PlaceText->setText(QDir::toNativeSeparators(place));
    enableControls();
}

void JunkTrainingForm::StopCommand_Click() {
    if (!IsRunning()) return;
    run_->cancel();
    StopCommand->setEnabled(false);
    ProgressLabel->setText(ProgressLabel->text() + QStringLiteral(" 中止しています..."));
}

void JunkTrainingForm::start(std::unique_ptr<JunkTrainingRun> run) {
    if (IsRunning()) return;
    run_ = std::move(run);
    connect(run_.get(), &JunkTrainingRun::finished, this, &JunkTrainingForm::finish);
    ResultLabel->clear();
    ProgressBar->setRange(0, 0);  // busy until the messages are counted
    ProgressLabel->setText(JunkTrainingProgressText(false, 0, 0));
    run_->start();
    poll_->start();
    enableControls();
}

void JunkTrainingForm::showProgress() {
    if (!run_) return;
    const int total = run_->total();
    if (total > 0) {
        ProgressBar->setRange(0, total);
        ProgressBar->setValue(run_->done());
    }
    if (StopCommand->isEnabled())
        ProgressLabel->setText(JunkTrainingProgressText(run_->searching(), run_->done(), total));
}

void JunkTrainingForm::finish() {
    poll_->stop();
    const JunkTrainingOutcome& outcome = run_->outcome();
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(outcome.problem.isEmpty() && !outcome.cancelled ? 1 : 0);
    ProgressLabel->clear();
    ResultLabel->setText(JunkTrainingSentence(outcome, run_->verdict()));
    // The thread has ended; the run itself stays until the next one, so
    // that nothing is deleted inside its own signal.
    enableControls();
    Q_EMIT trainingFinished();
    if (closeWhenStopped_) QDialog::reject();
}

void JunkTrainingForm::enableControls() {
    const bool running = IsRunning();
    for (QWidget* control : std::initializer_list<QWidget*>{HistoryCommand, FolderCommand, MboxCommand})
        control->setEnabled(!running);
    JunkCommand->setEnabled(!running && !junkPlace_.isEmpty());
    StopCommand->setEnabled(running);
}

void JunkTrainingForm::reject() {
    if (IsRunning()) {
        closeWhenStopped_ = true;
        StopCommand_Click();
        return;
    }
    QDialog::reject();
}

}  // namespace lumopet
