#include "app/mail_tray_icon.h"

#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace lumopet {
namespace {

const QString kIconResource = QStringLiteral(":/lumopet/lumopet_icon.png");
const QString kProgramName = QStringLiteral("Lumopet");

// The program's icon with a red dot in its upper right corner, large enough
// to see when the tray shrinks the icon to 16 or 22 pixels.
QIcon WithBadge(const QPixmap& icon) {
    QPixmap badged = icon;
    QPainter painter(&badged);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = badged.width() * 0.46;
    const QRectF dot(badged.width() - side - 1, 1, side, side);
    painter.setPen(QPen(Qt::white, badged.width() / 16.0));
    painter.setBrush(QColor(0xe0, 0x20, 0x30));
    painter.drawEllipse(dot);
    return QIcon(badged);
}

}  // namespace

MailTrayIcon::MailTrayIcon(QObject* parent)
    : QObject(parent), menu_(std::make_unique<QMenu>()), tray_(new QSystemTrayIcon(this)) {
    const QPixmap picture(kIconResource);
    plainIcon_ = QIcon(picture);
    unreadIcon_ = WithBadge(picture);
    tray_->setIcon(plainIcon_);
    tray_->setToolTip(kProgramName);

    menu_->addAction(QStringLiteral("受信"), this, &MailTrayIcon::receiveRequested);
    menu_->addAction(QStringLiteral("新規作成"), this, &MailTrayIcon::composeRequested);
    menu_->addAction(QStringLiteral("着信履歴"), this, &MailTrayIcon::receivedHistoryRequested);
    menu_->addAction(QStringLiteral("メイン画面"), this, &MailTrayIcon::mainWindowRequested);
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("終了"), this, &MailTrayIcon::quitRequested);
    tray_->setContextMenu(menu_.get());

    // A click brings the main window; the right button opens the menu.
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) Q_EMIT mainWindowRequested();
    });
}

MailTrayIcon::~MailTrayIcon() {
    // The icon goes before the menu it shows.
    delete tray_;
}

void MailTrayIcon::setShown(bool shown) {
    tray_->setVisible(shown);
}

bool MailTrayIcon::isShown() const {
    return tray_->isVisible();
}

void MailTrayIcon::setUnread(bool unread) {
    if (unread == unread_) return;
    unread_ = unread;
    tray_->setIcon(unread ? unreadIcon_ : plainIcon_);
}

bool MailTrayIcon::unread() const {
    return unread_;
}

void MailTrayIcon::setLastCheck(const QDateTime& when, const QString& outcome) {
    QString text = kProgramName;
    if (when.isValid()) text += QStringLiteral("\n最終チェック %1").arg(when.toString(QStringLiteral("yyyy/MM/dd HH:mm")));
    if (!outcome.isEmpty()) text += QLatin1Char('\n') + outcome;
    tray_->setToolTip(text);
}

QString MailTrayIcon::toolTip() const {
    return tray_->toolTip();
}

QIcon MailTrayIcon::icon() const {
    return tray_->icon();
}

QMenu* MailTrayIcon::menu() {
    return menu_.get();
}

}  // namespace lumopet
