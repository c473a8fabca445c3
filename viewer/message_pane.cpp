#include "viewer/message_pane.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStyle>

namespace lumopet {

HtmlMessageView::HtmlMessageView(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setReadOnly(true);
    setUndoRedoEnabled(false);
}

QVariant HtmlMessageView::loadResource(int type, const QUrl& name) {
    // The document asks here only for what it does not hold already.
    (void)type, (void)name;
    return {};
}

QString SizeText(qint64 bytes) {
    if (bytes < 1024) return QStringLiteral("%1 バイト").arg(bytes);
    const QLocale c = QLocale::c();
    if (bytes < 1024 * 1024) return c.toString(static_cast<double>(bytes) / 1024.0, 'f', bytes < 10 * 1024 ? 1 : 0) + QStringLiteral(" KB");
    const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    if (mb < 1024) return c.toString(mb, 'f', mb < 10 ? 1 : 0) + QStringLiteral(" MB");
    return c.toString(mb / 1024.0, 'f', 1) + QStringLiteral(" GB");
}

AttachmentStrip::AttachmentStrip(QWidget* parent) : QListWidget(parent) {
    setFlow(QListView::LeftToRight);
    setWrapping(false);
    setViewMode(QListView::ListMode);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSpacing(2);
    setAccessibleName(QStringLiteral("添付ファイル"));
    connect(this, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) { Q_EMIT openRequested(row(item)); });
}

void AttachmentStrip::setAttachments(const std::vector<mail::ViewedPart>& parts) {
    clear();
    const QMimeDatabase types;
    for (const mail::ViewedPart& part : parts) {
        const QString name = part.fileName.isEmpty() ? QStringLiteral("（名前なし）") : part.fileName;
        const QMimeType type = types.mimeTypeForName(QString::fromLatin1(part.contentType));
        QIcon icon = type.isValid() ? QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName())) : QIcon();
        if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_FileIcon);
        // A name of 300 bytes would push the others out of sight: the entry
        // shows its start and end, the tooltip and the accessible name all
        // of it.
        const QString shown = name.size() > 40 ? name.first(24) + QStringLiteral("…") + name.last(12) : name;
        auto* item = new QListWidgetItem(icon, QStringLiteral("%1 (%2)").arg(shown, SizeText(part.size)), this);
        item->setToolTip(name);
        item->setData(Qt::AccessibleTextRole, name);
        item->setData(Qt::AccessibleDescriptionRole, QString::fromLatin1(part.contentType));
    }
}

int AttachmentStrip::chosen() const { return currentRow(); }

void AttachmentStrip::contextMenuEvent(QContextMenuEvent* event) {
    QListWidgetItem* item = itemAt(event->pos());
    if (!item) return;
    setCurrentItem(item);
    const int index = row(item);
    QMenu menu(this);
    connect(menu.addAction(QStringLiteral("開く")), &QAction::triggered, this, [this, index] { Q_EMIT openRequested(index); });
    connect(menu.addAction(QStringLiteral("名前を付けて保存...")), &QAction::triggered, this,
            [this, index] { Q_EMIT saveRequested(index); });
    menu.exec(event->globalPos());
}

MessageNotesBar::MessageNotesBar(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 0, 2, 0);
    label_ = new QLabel(this);
    label_->setWordWrap(true);
    label_->setTextFormat(Qt::PlainText);
    loadImages_ = new QPushButton(QStringLiteral("画像を表示"), this);
    loadImages_->setAutoDefault(false);
    row->addWidget(label_, 1);
    row->addWidget(loadImages_);
    connect(loadImages_, &QPushButton::clicked, this, &MessageNotesBar::loadImagesRequested);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xff, 0xf8, 0xd0));
    setPalette(colours);
}

void MessageNotesBar::setNotes(const QStringList& notes, int heldBackImages) {
    QStringList lines = notes;
    if (heldBackImages > 0)
        lines.prepend(QStringLiteral("このメールの外部の画像 %1 件を表示していません（開いたことが送信者に知られないように）。")
                          .arg(heldBackImages));
    label_->setText(lines.join(u'\n'));
    loadImages_->setVisible(heldBackImages > 0);
    hasContent_ = !lines.isEmpty();
}

}  // namespace lumopet
