#pragma once
// The tray icon: whether unread mail came since the received history was
// last opened, the last check's time and result in its tooltip, and a menu
// of the main window's commands. QSystemTrayIcon speaks StatusNotifierItem
// where the desktop has it and the XEmbed tray elsewhere.

#include <QDateTime>
#include <QIcon>
#include <QObject>
#include <QString>

#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace lumopet {

class MailTrayIcon : public QObject {
    Q_OBJECT
public:
    explicit MailTrayIcon(QObject* parent = nullptr);
    ~MailTrayIcon() override;

    void setShown(bool shown);
    bool isShown() const;
    // Unread mail came since the received history was last opened: the
    // icon wears a badge.
    void setUnread(bool unread);
    bool unread() const;
    // The tooltip: the program's name, when the last check ran and what it
    // found ("新着メール 2 通", "新着メール無し", or what went wrong).
    void setLastCheck(const QDateTime& when, const QString& outcome);
    QString toolTip() const;
    QIcon icon() const;
    QMenu* menu();

Q_SIGNALS:
    void receiveRequested();          // 受信
    void composeRequested();          // 新規作成
    void receivedHistoryRequested();  // 着信履歴
    void mainWindowRequested();       // メイン画面, and a click on the icon
    void quitRequested();             // 終了

private:
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* tray_;
    QIcon plainIcon_;
    QIcon unreadIcon_;
    bool unread_ = false;
};

}  // namespace lumopet
