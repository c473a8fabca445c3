#include "compose/SendCheckForm.h"

#include "ui/message_box.h"
#include "ui/window_helpers.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace lumopet {

namespace {

const QColor kOutsideRed(0xC0, 0x00, 0x00);

QTableWidget* PlainTable(const QStringList& headers, QWidget* parent) {
    auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < headers.size(); ++column)
        table->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    return table;
}

// As high as its rows, up to most of them: a short list leaves no empty
// space, a long one scrolls.
void FitToRows(QTableWidget* table, int most) {
    int height = table->horizontalHeader()->sizeHint().height() + 2 * table->frameWidth();
    const int shown = std::max(1, std::min(table->rowCount(), most));
    for (int row = 0; row < shown; ++row)
        height += row < table->rowCount() ? table->rowHeight(row) : table->verticalHeader()->defaultSectionSize();
    table->setMinimumHeight(height);
    table->setMaximumHeight(table->rowCount() > most ? QWIDGETSIZE_MAX : height);
}

QTableWidgetItem* ShownItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled);
    return item;
}

QTableWidgetItem* RedItem(const QString& text) {
    QTableWidgetItem* item = ShownItem(text);
    item->setForeground(kOutsideRed);
    QFont bold = item->font();
    bold.setBold(true);
    item->setFont(bold);
    return item;
}

QPushButton* PlainButton(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    // Enter must not send, nor close the window unasked.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

SendCheckForm::SendCheckForm(const SendCheck& check, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("送信前の確認"));
    setFont(JapaneseFont(9));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("送信先をひとつずつ確かめて、チェックを入れてください。"), this));

    RecipientList = PlainTable({QStringLiteral("送信先"), QStringLiteral("種類"), QString()}, this);
    fillRecipients(check);
    FitToRows(RecipientList, 8);
    layout->addWidget(RecipientList, 1);
    const auto outside = std::count_if(check.recipients.begin(), check.recipients.end(),
                                       [](const CheckedRecipient& recipient) { return recipient.outside; });
    if (outside > 0) {
        auto* warning = new QLabel(QStringLiteral("社外のアドレスが %1 件あります。").arg(outside), this);
        warning->setStyleSheet(QStringLiteral("color: #C00000;"));
        layout->addWidget(warning);
    }

    layout->addWidget(new QLabel(QStringLiteral("添付ファイル"), this));
    AttachmentList = PlainTable({QStringLiteral("ファイル"), QStringLiteral("サイズ")}, this);
    NoAttachmentLabel = new QLabel(QStringLiteral("添付ファイルはありません。"), this);
    fillAttachments(check);
    FitToRows(AttachmentList, 4);
    layout->addWidget(AttachmentList);
    layout->addWidget(NoAttachmentLabel);
    AttachmentList->setVisible(!check.attachments.empty());
    NoAttachmentLabel->setVisible(check.attachments.empty());

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    SendButton = PlainButton(QStringLiteral("送信"), this);
    CancelButton = PlainButton(QStringLiteral("キャンセル"), this);
    buttons->addWidget(SendButton);
    buttons->addWidget(CancelButton);
    layout->addLayout(buttons);
    connect(SendButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(RecipientList, &QTableWidget::itemChanged, this,
            [this] { SendButton->setEnabled(everyRecipientTicked()); });
    SendButton->setEnabled(everyRecipientTicked());
    resize(std::max(560, sizeHint().width()), sizeHint().height());
}

void SendCheckForm::fillRecipients(const SendCheck& check) {
    RecipientList->setRowCount(static_cast<int>(check.recipients.size()));
    for (int row = 0; row < RecipientList->rowCount(); ++row) {
        const CheckedRecipient& recipient = check.recipients[static_cast<size_t>(row)];
        auto* ticked = new QTableWidgetItem(recipient.text);
        ticked->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        ticked->setCheckState(Qt::Unchecked);
        RecipientList->setItem(row, 0, ticked);
        RecipientList->setItem(row, 1, ShownItem(RecipientKindLabel(recipient.kind)));
        RecipientList->setItem(row, 2, recipient.outside ? RedItem(QStringLiteral("社外")) : ShownItem(QString()));
    }
}

void SendCheckForm::fillAttachments(const SendCheck& check) {
    AttachmentList->setRowCount(static_cast<int>(check.attachments.size()));
    for (int row = 0; row < AttachmentList->rowCount(); ++row) {
        const CheckedAttachment& attachment = check.attachments[static_cast<size_t>(row)];
        QTableWidgetItem* name = ShownItem(QFileInfo(attachment.path).fileName());
        name->setToolTip(attachment.path);
        AttachmentList->setItem(row, 0, name);
        QTableWidgetItem* size = attachment.size < 0 ? RedItem(QStringLiteral("見つかりません"))
                                                     : ShownItem(AttachmentSizeText(attachment.size));
        size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        AttachmentList->setItem(row, 1, size);
    }
}

bool SendCheckForm::everyRecipientTicked() const {
    for (int row = 0; row < RecipientList->rowCount(); ++row) {
        if (RecipientList->item(row, 0)->checkState() != Qt::Checked) return false;
    }
    return true;
}

bool ConfirmRecipients(QWidget* parent, const SendCheck& check) {
    SendCheckForm form(check, parent);
    return form.exec() == QDialog::Accepted;
}

bool AskMissingAttachment(QWidget* parent) {
    return ShowMessage(parent, {MessageKind::CautiousQuestion,
                                QStringLiteral("添付ファイルについて書かれていますが、ファイルが添付されていません。"
                                               "このまま送信しますか？"),
                                QStringLiteral("確認")}) == MessageAnswer::Yes;
}

QString AttachmentSizeText(qint64 bytes) {
    if (bytes < 1024) return QStringLiteral("%1 バイト").arg(bytes);
    const double kilobytes = static_cast<double>(bytes) / 1024.0;
    if (kilobytes < 1024.0) return QStringLiteral("%1 KB").arg(kilobytes, 0, 'f', 1);
    const double megabytes = kilobytes / 1024.0;
    if (megabytes < 1024.0) return QStringLiteral("%1 MB").arg(megabytes, 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(megabytes / 1024.0, 0, 'f', 1);
}

}  // namespace lumopet
