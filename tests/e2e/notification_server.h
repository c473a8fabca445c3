#pragma once
// The desktop's notification server, as far as the program needs one: it
// keeps what it was asked to show. Registered on a private bus by the
// tests that watch the program's notifications.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <vector>

namespace lumopet::test {

inline const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
inline const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");

class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString summary;
        QString body;
        uint id;
    };
    std::vector<Shown> shown;

public Q_SLOTS:
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        const uint id = replacesId != 0 ? replacesId : ++lastId_;
        shown.push_back({summary, body, id});
        return id;
    }

private:
    uint lastId_ = 0;
};

}  // namespace lumopet::test
