#include "viewer/mail_export_window.h"

#include "mail/mail_export.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"

#include <QButtonGroup>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <memory>

namespace lumopet {
namespace {

class MailExportWindow : public QDialog {
public:
    MailExportWindow(QWidget* parent, Program& program, History history, std::vector<int> shown, int chosen)
        : QDialog(parent), program_(program), history_(history), shown_(std::move(shown)), chosen_(chosen) {
        setObjectName(QStringLiteral("MailExportWindow"));
        setWindowTitle(QStringLiteral("メールの書き出し"));
        auto* layout = new QVBoxLayout(this);

        auto* which = new QGroupBox(QStringLiteral("書き出すメール"), this);
        auto* whichLayout = new QVBoxLayout(which);
        all_ = new QRadioButton(QStringLiteral("表示中のすべて %1 件").arg(shown_.size()), which);
        all_->setObjectName(QStringLiteral("AllRecords"));
        one_ = new QRadioButton(QStringLiteral("選択中の 1 件"), which);
        one_->setObjectName(QStringLiteral("ChosenRecord"));
        one_->setEnabled(chosen_ > 0);
        all_->setEnabled(!shown_.empty());
        (shown_.empty() && chosen_ > 0 ? one_ : all_)->setChecked(true);
        whichLayout->addWidget(all_);
        whichLayout->addWidget(one_);
        layout->addWidget(which);

        auto* form = new QGroupBox(QStringLiteral("形式"), this);
        auto* formLayout = new QVBoxLayout(form);
        mbox_ = new QRadioButton(QStringLiteral("mboxrd ファイル"), form);
        mbox_->setObjectName(QStringLiteral("MboxForm"));
        eml_ = new QRadioButton(QStringLiteral(".eml ファイルのフォルダ"), form);
        eml_->setObjectName(QStringLiteral("EmlForm"));
        mbox_->setChecked(true);
        formLayout->addWidget(mbox_);
        formLayout->addWidget(eml_);
        layout->addWidget(form);

        status_ = new QLabel(this);
        status_->setObjectName(QStringLiteral("ExportStatus"));
        status_->setWordWrap(true);
        layout->addWidget(status_);
        bar_ = new QProgressBar(this);
        bar_->setObjectName(QStringLiteral("ExportProgress"));
        bar_->setVisible(false);
        layout->addWidget(bar_);

        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        start_ = new QPushButton(QStringLiteral("書き出す..."), this);
        start_->setObjectName(QStringLiteral("StartExport"));
        start_->setDefault(true);
        start_->setEnabled(!shown_.empty() || chosen_ > 0);
        cancel_ = new QPushButton(QStringLiteral("キャンセル"), this);
        cancel_->setObjectName(QStringLiteral("CancelExport"));
        buttons->addWidget(start_);
        buttons->addWidget(cancel_);
        layout->addLayout(buttons);

        QObject::connect(start_, &QPushButton::clicked, this, [this] { start(); });
        QObject::connect(cancel_, &QPushButton::clicked, this, [this] {
            if (worker_) {
                cancelled_ = true;
                status_->setText(QStringLiteral("中止しています..."));
            } else {
                reject();
            }
        });
    }

    ~MailExportWindow() override {
        // Closed while the export runs (the program ends): stop it and wait,
        // so that it never writes for a window that is gone.
        if (worker_) {
            cancelled_ = true;
            worker_->wait();
        }
    }

protected:
    void reject() override {
        if (worker_) {
            cancelled_ = true;
            return;
        }
        QDialog::reject();
    }

private:
    void start() {
        mail::MailExportRequest request;
        // A junk record is a received record in a file of its own, its copy
        // in the received Maildir: it is written out as a received one.
        request.history = history_ == History::Sent ? History::Sent : History::Received;
        request.historyFile = HistoryPath(program_.paths, history_);
        request.maildir = history_ == History::Sent ? SentMaildirPath(program_.paths) : ReceivedMaildirPath(program_.paths);
        request.records = one_->isChecked() ? std::vector<int>{chosen_} : shown_;
        request.form = mbox_->isChecked() ? mail::ExportForm::Mboxrd : mail::ExportForm::EmlFolder;
        request.ownAddress = program_.values.MailAddress.trimmed();
        const QString home = QDir::homePath();
        if (request.form == mail::ExportForm::Mboxrd) {
            request.target = ChooseFileToSave(this, {QStringLiteral("mboxrd ファイルの保存先"), home,
                                                     QStringLiteral("mbox ファイル (*.mbox *.mbx);;すべてのファイル (*)")});
        } else {
            request.target = ChooseFolder(this, {QStringLiteral(".eml ファイルを書き出すフォルダ"), home});
        }
        if (request.target.isEmpty()) return;
        // The save dialog has asked before it let an existing file be
        // chosen; asking again would be the same question twice. A link or
        // anything but a regular file there is still refused by the export.
        request.replaceExisting = request.form == mail::ExportForm::Mboxrd;
        run(request);
    }

    void run(const mail::MailExportRequest& request) {
        start_->setEnabled(false);
        bar_->setVisible(true);
        bar_->setRange(0, 0);
        status_->setText(QStringLiteral("保存されている元のメールを探しています..."));
        cancelled_ = false;
        auto result = std::make_shared<mail::MailExportResult>();
        worker_ = QThread::create([this, request, result] {
            *result = mail::ExportMail(request, [this](mail::ExportStage stage, qint64 done, qint64 total) {
                // Two hundred steps a stage are enough for the bar; one
                // event per message of a full history would flood the window.
                const qint64 step = std::max<qint64>(1, total / 200);
                if (done % step == 0)
                    QMetaObject::invokeMethod(this, [this, stage, done, total] { showProgress(stage, done, total); },
                                          Qt::QueuedConnection);
                return !cancelled_.load();
            });
        });
        QObject::connect(worker_, &QThread::finished, this, [this, request, result] { finished(request, *result); });
        worker_->start();
    }

    void showProgress(mail::ExportStage stage, qint64 done, qint64 total) {
        if (!worker_ || cancelled_) return;
        // The bar counts in steps the widget can hold.
        bar_->setRange(0, static_cast<int>(std::min<qint64>(total, 1 << 30)));
        bar_->setValue(static_cast<int>(std::min<qint64>(done, 1 << 30)));
        status_->setText(stage == mail::ExportStage::Matching
                             ? QStringLiteral("保存されている元のメールを探しています（%1 / %2）").arg(done).arg(total)
                             : QStringLiteral("書き出しています（%1 / %2 件）").arg(done).arg(total));
    }

    void finished(mail::MailExportRequest request, const mail::MailExportResult& result) {
        worker_->deleteLater();
        worker_ = nullptr;
        bar_->setVisible(false);
        start_->setEnabled(true);
        if (result.targetExists) {
            // Made by someone else while the export ran.
            status_->clear();
            if (AskToConfirm(this, QStringLiteral("「%1」は既にあります。置き換えますか。").arg(request.target))) {
                request.replaceExisting = true;
                run(request);
            }
            return;
        }
        const QString sentence = mail::MailExportSentence(result, request.form);
        status_->setText(sentence);
        if (result.ok()) {
            ShowNotice(this, sentence);
            accept();
        } else if (!result.cancelled) {
            ShowError(this, QStringLiteral("エラー"), sentence);
        }
    }

    Program& program_;
    const History history_;
    const std::vector<int> shown_;
    const int chosen_;
    QRadioButton* all_;
    QRadioButton* one_;
    QRadioButton* mbox_;
    QRadioButton* eml_;
    QLabel* status_;
    QProgressBar* bar_;
    QPushButton* start_;
    QPushButton* cancel_;
    QThread* worker_ = nullptr;
    std::atomic<bool> cancelled_{false};
};

}  // namespace

void ShowMailExportWindow(QWidget* parent, Program& program, History history, std::vector<int> shownRecords,
                          int chosenRecord) {
    MailExportWindow window(parent, program, history, std::move(shownRecords), chosenRecord);
    window.exec();
}

}  // namespace lumopet
