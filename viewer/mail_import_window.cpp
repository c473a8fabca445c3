#include "viewer/mail_import_window.h"

#include "core/program.h"
#include "ui/file_dialog.h"
#include "ui/window_helpers.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace lumopet {
namespace {

const QString kCloseText = QStringLiteral("閉じる");
const QString kCancelText = QStringLiteral("キャンセル");

// Where the dialogs open: the last folder a source came from, else home.
QString& lastFolder() {
    static QString folder = QDir::homePath();
    return folder;
}

}  // namespace

MailImportWindow::MailImportWindow(QWidget* parent, Program& program, std::function<void()> onRecordsAdded)
    : QDialog(parent), program_(program), onRecordsAdded_(std::move(onRecordsAdded)) {
    setWindowTitle(QStringLiteral("メールの取り込み"));
    setFont(JapaneseFont(9));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("ほかのメールソフトのメールを着信履歴に取り込みます。"), this));

    auto* kinds = new QButtonGroup(this);
    auto* kindRow = new QHBoxLayout;
    mboxChoice = new QRadioButton(QStringLiteral("mbox ファイル"), this);
    emlChoice = new QRadioButton(QStringLiteral(".eml ファイル"), this);
    maildirChoice = new QRadioButton(QStringLiteral("Maildir フォルダ"), this);
    for (QRadioButton* choice : {mboxChoice, emlChoice, maildirChoice}) {
        kinds->addButton(choice);
        kindRow->addWidget(choice);
    }
    mboxChoice->setChecked(true);
    kindRow->addStretch();
    layout->addLayout(kindRow);

    auto* sourceRow = new QHBoxLayout;
    sourceText = new QLineEdit(this);
    sourceText->setReadOnly(true);
    sourceText->setMinimumWidth(360);
    sourceText->setPlaceholderText(QStringLiteral("取り込むファイルを選んでください"));
    chooseButton = new QPushButton(QStringLiteral("参照..."), this);
    chooseButton->setAutoDefault(false);
    sourceRow->addWidget(sourceText, 1);
    sourceRow->addWidget(chooseButton);
    layout->addLayout(sourceRow);

    attachmentsBox = new QCheckBox(QStringLiteral("添付ファイルも展開する"), this);
    layout->addWidget(attachmentsBox);

    progressBar = new QProgressBar(this);
    progressBar->setRange(0, 1000);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    layout->addWidget(progressBar);
    countLabel = new QLabel(this);
    layout->addWidget(countLabel);
    resultLabel = new QLabel(this);
    resultLabel->setWordWrap(true);
    resultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(resultLabel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    startButton = new QPushButton(QStringLiteral("取り込み"), this);
    startButton->setAutoDefault(false);
    startButton->setEnabled(false);
    cancelButton = new QPushButton(kCloseText, this);
    cancelButton->setAutoDefault(false);
    buttons->addWidget(startButton);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);

    // A source of one kind means nothing for another.
    connect(kinds, &QButtonGroup::buttonClicked, this, [this] { setSource(chosenKind(), {}); });
    connect(chooseButton, &QPushButton::clicked, this, &MailImportWindow::chooseSource);
    connect(startButton, &QPushButton::clicked, this, &MailImportWindow::start);
    connect(cancelButton, &QPushButton::clicked, this, &MailImportWindow::reject);

    poll_ = new QTimer(this);
    poll_->setInterval(100);
    connect(poll_, &QTimer::timeout, this, &MailImportWindow::showProgress);
}

MailImportWindow::~MailImportWindow() {
    // The import writes the program's files: it is never left running
    // without its window.
    if (worker_) {
        cancel_ = true;
        worker_->wait();
    }
}

MailSourceKind MailImportWindow::chosenKind() const {
    if (emlChoice->isChecked()) return MailSourceKind::MessageFiles;
    if (maildirChoice->isChecked()) return MailSourceKind::Maildir;
    return MailSourceKind::Mbox;
}

void MailImportWindow::setSource(MailSourceKind kind, const QStringList& paths) {
    (kind == MailSourceKind::MessageFiles ? emlChoice : kind == MailSourceKind::Maildir ? maildirChoice : mboxChoice)
        ->setChecked(true);
    paths_ = paths;
    QStringList shown;
    for (const QString& path : paths) shown << QDir::toNativeSeparators(path);
    sourceText->setText(paths.size() <= 1 ? shown.value(0)
                                          : QStringLiteral("%1 ほか %2 個のファイル").arg(shown.front()).arg(paths.size() - 1));
    sourceText->setToolTip(shown.join(u'\n'));
    startButton->setEnabled(!paths_.isEmpty() && !isRunning());
}

void MailImportWindow::chooseSource() {
    const MailSourceKind kind = chosenKind();
    QStringList chosen;
    switch (kind) {
    case MailSourceKind::Mbox: {
        // Thunderbird's folders have no extension; Takeout's end in .mbox.
        const QString file = ChooseFileToOpen(
            this, {QStringLiteral("mbox ファイルを選んでください"), lastFolder(),
                   QStringLiteral("mbox ファイル (*.mbox *.mbx *);;すべてのファイル (*)")});
        if (!file.isEmpty()) chosen << file;
        break;
    }
    case MailSourceKind::MessageFiles:
        chosen = ChooseFilesToOpen(this, {QStringLiteral(".eml ファイルを選んでください（複数可）"), lastFolder(),
                                          QStringLiteral("メールファイル (*.eml);;すべてのファイル (*)")});
        break;
    case MailSourceKind::Maildir: {
        const QString folder = ChooseFolder(this, {QStringLiteral("Maildir フォルダを選んでください"), lastFolder()});
        if (!folder.isEmpty()) chosen << folder;
        break;
    }
    }
    if (chosen.isEmpty()) return;
    // For a Maildir, the folder that holds it: the next one is beside it.
    lastFolder() = QFileInfo(chosen.front()).absolutePath();
    setSource(kind, chosen);
}

QString MailImportWindow::CountText(const MailImportProgress& progress) {
    QString text = QStringLiteral("%1 通を取り込みました").arg(progress.taken);
    if (progress.skipped > 0) text += QStringLiteral("（既にある %1 通は飛ばしました）").arg(progress.skipped);
    return text + QStringLiteral("。");
}

void MailImportWindow::start() {
    if (isRunning() || paths_.isEmpty()) return;
    MailImportRequest request;
    request.kind = chosenKind();
    request.paths = paths_;
    request.extractAttachments = attachmentsBox->isChecked();
    cancel_ = false;
    taken_ = 0;
    skipped_ = 0;
    bytesRead_ = 0;
    bytesTotal_ = 0;
    result_ = {};
    resultLabel->clear();
    countLabel->setText(QStringLiteral("取り込んでいます..."));
    progressBar->setValue(0);
    for (QWidget* control : std::initializer_list<QWidget*>{mboxChoice, emlChoice, maildirChoice, chooseButton,
                                                           attachmentsBox, startButton})
        control->setEnabled(false);
    cancelButton->setText(kCancelText);

    const ProgramPaths paths = program_.paths;
    worker_ = QThread::create([this, paths, request] {
        result_ = ImportMail(
            paths, request,
            [this](const MailImportProgress& p) {
                taken_.store(p.taken, std::memory_order_relaxed);
                skipped_.store(p.skipped, std::memory_order_relaxed);
                bytesRead_.store(p.bytesRead, std::memory_order_relaxed);
                bytesTotal_.store(p.bytesTotal, std::memory_order_relaxed);
            },
            &cancel_);
    });
    // finished comes on the window thread once result_ is written.
    connect(worker_, &QThread::finished, this, &MailImportWindow::finish);
    poll_->start();
    worker_->start();
}

void MailImportWindow::showProgress() {
    const MailImportProgress progress{taken_.load(), skipped_.load(), bytesRead_.load(), bytesTotal_.load()};
    if (progress.bytesTotal > 0)
        progressBar->setValue(static_cast<int>(progress.bytesRead * 1000 / progress.bytesTotal));
    countLabel->setText(CountText(progress));
}

void MailImportWindow::finish() {
    poll_->stop();
    worker_->deleteLater();
    worker_ = nullptr;
    showProgress();
    if (!result_.cancelled && result_.error.isEmpty()) progressBar->setValue(progressBar->maximum());
    resultLabel->setText(MailImportSentence(result_));
    for (QWidget* control : std::initializer_list<QWidget*>{mboxChoice, emlChoice, maildirChoice, chooseButton,
                                                           attachmentsBox})
        control->setEnabled(true);
    startButton->setEnabled(!paths_.isEmpty());
    cancelButton->setText(kCloseText);
    cancelButton->setEnabled(true);
    if (result_.taken > 0 && onRecordsAdded_) onRecordsAdded_();
    Q_EMIT importFinished();
}

void MailImportWindow::reject() {
    // Esc, the close box and キャンセル: while the import runs they stop it
    // after the message in hand; the window stays to say what was taken.
    if (isRunning()) {
        cancel_ = true;
        cancelButton->setEnabled(false);
        countLabel->setText(countLabel->text() + QStringLiteral(" 中止しています..."));
        return;
    }
    QDialog::reject();
}

void ShowMailImportWindow(QWidget* parent, Program& program, std::function<void()> onRecordsAdded) {
    MailImportWindow window(parent, program, std::move(onRecordsAdded));
    window.exec();
}

}  // namespace lumopet
