#pragma once
// New mail told through the desktop's notification server
// (org.freedesktop.Notifications on the session bus), which is also what a
// Wayland desktop shows when it keeps the characters below other windows.
// Everything here is asynchronous: a server that answers slowly, or not at
// all, never holds up the window thread. No bus or no server: nothing
// happens.

#include "mail/receive_mail.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace lumopet {

// "新着メール N 通".
QString NewMailNotificationTitle(int count);
// What a check brought, for the status line and the tray: "新着メール 3 通",
// "新着メール 3 通（迷惑メール 2 通）", "新着メールはありません（迷惑メール 2 通）";
// nothing for a check that brought nothing.
QString NewMailCountText(int mailCount, int junkCount);
// The sender and subject of each message, one a line, at most
// kNewMailLinesKept of them, as plain text.
QString NewMailNotificationBody(const std::vector<NewMailLine>& lines);

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // Shows the notification, in place of our previous one if that is still
    // up. Returns at once. body is plain text: it is escaped for a server
    // that reads the body as markup.
    void notifyNewMail(const QString& title, const QString& body);

Q_SIGNALS:
    // The user clicked our notification (its default action, 着信履歴を開く).
    void openRequested();

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    void send(const QString& title, const QString& body);
    // Asks the server whether it reads the body as markup, then sends
    // what waits.
    void askCapabilities();
    void sendWaiting();
    // The first trouble goes to the debug log; the rest would only repeat it.
    void noteTrouble(const QString& what);

    QDBusConnection bus_;
    // The server's id of our notification on screen; 0 for none.
    uint shownId_ = 0;
    // A Notify call has not been answered yet: the next notification waits
    // for its id, so that it replaces it rather than piling up beside it.
    bool waiting_ = false;
    std::optional<std::pair<QString, QString>> next_;
    bool troubleNoted_ = false;
    // The server's "body-markup" capability, once it has answered.
    std::optional<bool> readsMarkup_;
};

}  // namespace lumopet
