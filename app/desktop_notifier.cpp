#include "app/desktop_notifier.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QImage>
#include <QStandardPaths>
#include <QStringList>
#include <QVariantMap>
#include <QtDebug>

namespace lumopet {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kIconResource = QStringLiteral(":/lumopet/lumopet_icon.png");
// A server that has not answered by then is not going to.
constexpr int kCallTimeoutMs = 10000;
// A line of the body: long enough to recognise the mail, short enough that
// three of them still fit a notification bubble.
constexpr int kFieldLength = 40;

// The picture as the notification protocol carries it ("image-data",
// (iiibiiay)): for a program that is not installed, so that its icon has
// no name the server could look up.
struct NotificationImage {
    int width = 0;
    int height = 0;
    int rowStride = 0;
    bool hasAlpha = true;
    int bitsPerSample = 8;
    int channels = 4;
    QByteArray data;
};

}  // namespace
}  // namespace lumopet

Q_DECLARE_METATYPE(lumopet::NotificationImage)

namespace lumopet {
namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const NotificationImage& image) {
    argument.beginStructure();
    argument << image.width << image.height << image.rowStride << image.hasAlpha << image.bitsPerSample
             << image.channels << image.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, NotificationImage& image) {
    argument.beginStructure();
    argument >> image.width >> image.height >> image.rowStride >> image.hasAlpha >> image.bitsPerSample >>
        image.channels >> image.data;
    argument.endStructure();
    return argument;
}

// Subjects and names come from the mail: a folded header may still hold a
// line break or a tab, and a very long one would crowd out the others.
QString OneLine(const QString& text) {
    QString line = text.simplified();
    if (line.size() > kFieldLength) line = line.left(kFieldLength - 1) + QChar(0x2026);
    return line;
}

QString EscapeMarkup(QString text) {
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return text;
}

// An installed copy put its icon into the hicolor theme under the name
// "lumopet", which the server finds itself; a copy run from its build or
// program folder sends the picture along instead.
bool IconThemeHasOurIcon() {
    return !QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                   QStringLiteral("icons/hicolor/48x48/apps/lumopet.png"))
                .isEmpty();
}

std::optional<NotificationImage> OurIconImage() {
    const QImage icon = QImage(kIconResource).convertToFormat(QImage::Format_RGBA8888);
    if (icon.isNull()) return std::nullopt;
    NotificationImage image;
    image.width = icon.width();
    image.height = icon.height();
    image.rowStride = int(icon.bytesPerLine());
    image.data = QByteArray(reinterpret_cast<const char*>(icon.constBits()), int(icon.sizeInBytes()));
    return image;
}

}  // namespace

QString NewMailNotificationTitle(int count) {
    return QStringLiteral("新着メール %1 通").arg(count);
}

QString NewMailCountText(int mailCount, int junkCount) {
    const QString junk = junkCount > 0 ? QStringLiteral("（迷惑メール %1 通）").arg(junkCount) : QString();
    if (mailCount > 0) return NewMailNotificationTitle(mailCount) + junk;
    if (junkCount > 0) return QStringLiteral("新着メールはありません") + junk;
    return QString();
}

QString NewMailNotificationBody(const std::vector<NewMailLine>& lines) {
    QStringList out;
    for (const NewMailLine& line : lines) {
        if (out.size() == kNewMailLinesKept) break;
        const QString from = OneLine(line.From);
        const QString subject = line.Subject.trimmed().isEmpty() ? QStringLiteral("（件名なし）") : OneLine(line.Subject);
        out << (from.isEmpty() ? subject : from + QStringLiteral("「") + subject + QStringLiteral("」"));
    }
    return out.join(QLatin1Char('\n'));
}

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
    if (!bus_.isConnected()) return;
    qDBusRegisterMetaType<NotificationImage>();
    // Naming the service makes the bus deliver only what its owner sends:
    // nobody else's ActionInvoked opens our history.
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
    // Asked now, the answer is there long before the first new mail.
    askCapabilities();
}

void DesktopNotifier::notifyNewMail(const QString& title, const QString& body) {
    if (!bus_.isConnected()) {
        noteTrouble(QStringLiteral("no session bus"));
        return;
    }
    if (waiting_) {
        next_ = std::make_pair(title, body);
        return;
    }
    if (!readsMarkup_) {
        next_ = std::make_pair(title, body);
        askCapabilities();
        return;
    }
    send(title, body);
}

// The protocol lets a server read the body as a little markup ("body-markup"):
// there a sender "Bob <bob@example.jp>" would lose its address, and a plain
// server would show "&lt;" as it stands.
void DesktopNotifier::askCapabilities() {
    waiting_ = true;
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<QStringList> reply = *finished;
        waiting_ = false;
        // No answer: the server may not be there yet; the next notification
        // asks again. What waits goes out anyway, so that trouble is noted.
        if (!reply.isError()) readsMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
        sendWaiting();
    });
}

void DesktopNotifier::sendWaiting() {
    if (!next_) return;
    const auto [title, body] = *std::exchange(next_, std::nullopt);
    send(title, body);
}

void DesktopNotifier::send(const QString& title, const QString& body) {
    QVariantMap hints;
    hints.insert(QStringLiteral("category"), QStringLiteral("email.arrived"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("io.github.lumopet.Lumopet"));
    QString icon;
    if (IconThemeHasOurIcon()) {
        icon = QStringLiteral("lumopet");
    } else if (const auto image = OurIconImage()) {
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(*image));
    }

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QStringLiteral("Lumopet") << shownId_ << icon << title << (readsMarkup_.value_or(false) ? EscapeMarkup(body) : body)
         << QStringList{QStringLiteral("default"), QStringLiteral("着信履歴を開く")} << hints << qint32(-1);
    waiting_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        waiting_ = false;
        if (reply.isError())
            noteTrouble(reply.error().name() + QStringLiteral(": ") + reply.error().message());
        else
            shownId_ = reply.value();
        sendWaiting();
    });
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action) {
    if (id != 0 && id == shownId_ && action == QLatin1String("default")) Q_EMIT openRequested();
}

void DesktopNotifier::onNotificationClosed(uint id, uint) {
    if (id != 0 && id == shownId_) shownId_ = 0;
}

void DesktopNotifier::noteTrouble(const QString& what) {
    if (troubleNoted_) return;
    troubleNoted_ = true;
    qDebug("No desktop notification: %s", qUtf8Printable(what));
}

}  // namespace lumopet
