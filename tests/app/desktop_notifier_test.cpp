// The new-mail notification against a notification server of the test's
// own, on a private session bus; its title and body texts.

#include "app/desktop_notifier.h"
#include "tests/app/private_bus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace lumopet {
namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// Takes every Notify and gives out ids as a server does: a new one, or the
// id the caller asked to replace.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replacesId;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int timeout;
        uint givenId;
    };
    std::vector<Call> calls;
    QStringList capabilities{QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup")};

public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout) {
        const uint id = replacesId != 0 ? replacesId : ++lastId_;
        calls.push_back({appName, replacesId, appIcon, summary, body, actions, hints, timeout, id});
        return id;
    }

private:
    uint lastId_ = 40;
};

class DesktopNotifierTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus_.error().isEmpty()) << bus_.error().toStdString(); }

    // The server's connection owns the name and serves the object.
    QDBusConnection startServer() {
        QDBusConnection server = bus_.connect(QStringLiteral("notification server"));
        EXPECT_TRUE(server.registerObject(kPath, &server_, QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(server.registerService(kInterface));
        return server;
    }
    static void emitActionInvoked(const QDBusConnection& server, uint id, const QString& action) {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("ActionInvoked"));
        signal << id << action;
        EXPECT_TRUE(server.send(signal));
    }

    test::PrivateBus bus_;
    FakeNotificationServer server_;
};

TEST_F(DesktopNotifierTest, NotifyCarriesTheTextsAndActionsAndReplacesOurPreviousOne) {
    startServer();
    DesktopNotifier notifier(bus_.connect(QStringLiteral("program")));
    notifier.notifyNewMail(QStringLiteral("新着メール 2 通"), QStringLiteral("alice「会議」\nbob「昼食」"));
    ASSERT_TRUE(test::WaitFor([&] { return server_.calls.size() == 1; }));
    const auto& first = server_.calls[0];
    EXPECT_EQ(first.appName, QStringLiteral("Lumopet"));
    EXPECT_EQ(first.replacesId, 0u);
    EXPECT_EQ(first.summary, QStringLiteral("新着メール 2 通"));
    EXPECT_EQ(first.body, QStringLiteral("alice「会議」\nbob「昼食」"));
    EXPECT_EQ(first.actions, (QStringList{QStringLiteral("default"), QStringLiteral("着信履歴を開く")}));
    // The icon by its theme name when installed, else the picture itself.
    EXPECT_TRUE(first.appIcon == QStringLiteral("lumopet") || first.hints.contains(QStringLiteral("image-data")))
        << first.appIcon.toStdString();
    if (first.appIcon.isEmpty()) {
        const QDBusArgument image = first.hints.value(QStringLiteral("image-data")).value<QDBusArgument>();
        int width = 0, height = 0, stride = 0, bits = 0, channels = 0;
        bool alpha = false;
        QByteArray data;
        image.beginStructure();
        image >> width >> height >> stride >> alpha >> bits >> channels >> data;
        image.endStructure();
        EXPECT_GT(width, 0);
        EXPECT_EQ(data.size(), stride * height);
    }

    notifier.notifyNewMail(QStringLiteral("新着メール 1 通"), QStringLiteral("carol「続報」"));
    ASSERT_TRUE(test::WaitFor([&] { return server_.calls.size() == 2; }));
    EXPECT_EQ(server_.calls[1].replacesId, first.givenId);

    // Three at once, before any answer: the first goes out, the last waits
    // for its id and replaces it, the middle one is never seen.
    DesktopNotifier hurried(bus_.connect(QStringLiteral("hurried program")));
    QTest::qWait(100);  // the server's capabilities come back
    for (int n = 1; n <= 3; ++n) hurried.notifyNewMail(NewMailNotificationTitle(n), QString());
    ASSERT_TRUE(test::WaitFor([&] { return server_.calls.size() == 4; }));
    QTest::qWait(100);
    ASSERT_EQ(server_.calls.size(), 4u);
    EXPECT_EQ(server_.calls[2].summary, QStringLiteral("新着メール 1 通"));
    EXPECT_EQ(server_.calls[2].replacesId, 0u);
    EXPECT_EQ(server_.calls[3].summary, QStringLiteral("新着メール 3 通"));
    EXPECT_EQ(server_.calls[3].replacesId, server_.calls[2].givenId);
}

TEST_F(DesktopNotifierTest, TheBodyIsEscapedOnlyForAServerThatReadsMarkup) {
    startServer();
    const QString body = QStringLiteral("Bob <bob@example.jp>「A & B」");
    const struct {
        bool markup;
        QString sent;
    } cases[] = {
        {true, QStringLiteral("Bob &lt;bob@example.jp&gt;「A &amp; B」")},
        {false, body},
    };
    for (const auto& c : cases) {
        server_.calls.clear();
        server_.capabilities = c.markup ? QStringList{QStringLiteral("body"), QStringLiteral("body-markup")}
                                        : QStringList{QStringLiteral("body")};
        DesktopNotifier notifier(bus_.connect(c.markup ? QStringLiteral("markup") : QStringLiteral("plain")));
        notifier.notifyNewMail(QStringLiteral("新着メール 1 通"), body);
        ASSERT_TRUE(test::WaitFor([&] { return server_.calls.size() == 1; }));
        EXPECT_EQ(server_.calls[0].body, c.sent) << c.markup;
    }
}

TEST_F(DesktopNotifierTest, OnlyTheDefaultActionOfOurOwnNotificationOpensTheHistory) {
    const QDBusConnection server = startServer();
    DesktopNotifier notifier(bus_.connect(QStringLiteral("program")));
    QSignalSpy opened(&notifier, &DesktopNotifier::openRequested);
    notifier.notifyNewMail(QStringLiteral("新着メール 1 通"), QString());
    ASSERT_TRUE(test::WaitFor([&] { return server_.calls.size() == 1; }));
    const uint ours = server_.calls[0].givenId;
    QTest::qWait(50);  // the reply with our id reaches the notifier

    emitActionInvoked(server, ours + 7, QStringLiteral("default"));  // another program's notification
    emitActionInvoked(server, ours, QStringLiteral("reply"));
    emitActionInvoked(server, ours, QStringLiteral("default"));
    // Signals from one sender arrive in order: once the last is seen, the
    // first two have been turned down.
    ASSERT_TRUE(test::WaitFor([&] { return opened.count() >= 1; }));
    QTest::qWait(50);
    EXPECT_EQ(opened.count(), 1);
}

int g_messages = 0;
void CountMessage(QtMsgType, const QMessageLogContext&, const QString&) { ++g_messages; }

TEST_F(DesktopNotifierTest, WithoutServerOrBusNothingHappensAndTheNextServerIsUsed) {
    g_messages = 0;
    const QtMessageHandler previous = qInstallMessageHandler(CountMessage);
    {
        DesktopNotifier nowhere{QDBusConnection(QStringLiteral("never connected"))};
        nowhere.notifyNewMail(QStringLiteral("新着メール 1 通"), QString());
        nowhere.notifyNewMail(QStringLiteral("新着メール 1 通"), QString());
    }
    DesktopNotifier notifier(bus_.connect(QStringLiteral("program")));
    QElapsedTimer timer;
    timer.start();
    notifier.notifyNewMail(QStringLiteral("新着メール 1 通"), QString());
    EXPECT_LT(timer.elapsed(), 500);
    notifier.notifyNewMail(QStringLiteral("新着メール 2 通"), QString());
    QTest::qWait(300);  // the bus's "nobody owns that name" comes back
    qInstallMessageHandler(previous);
    EXPECT_LE(g_messages, 2) << "at most one debug line for each notifier";

    // A server that starts later gets the next notification, new.
    startServer();
    notifier.notifyNewMail(QStringLiteral("新着メール 3 通"), QString());
    ASSERT_TRUE(test::WaitFor([&] { return server_.calls.size() == 1; }));
    EXPECT_EQ(server_.calls[0].summary, QStringLiteral("新着メール 3 通"));
    EXPECT_EQ(server_.calls[0].replacesId, 0u);
}

TEST(NewMailNotificationTexts, TitleAndBody) {
    const NewMailLine alice{QStringLiteral("alice@example.jp"), QStringLiteral("会議の件")};
    const NewMailLine bob{QStringLiteral("Bob <bob@example.jp>"), QStringLiteral("A & B <i>")};
    const NewMailLine carol{QStringLiteral("carol@example.jp"), QString()};
    const NewMailLine folded{QStringLiteral("dave@example.jp"), QStringLiteral("長い\r\n\t件名")};
    const NewMailLine nobody{QString(), QStringLiteral("差出人なし")};
    struct Case {
        int count;
        std::vector<NewMailLine> lines;
        QString title;
        QString body;
    };
    const Case cases[] = {
        {1, {alice}, QStringLiteral("新着メール 1 通"), QStringLiteral("alice@example.jp「会議の件」")},
        {3, {alice, carol, folded}, QStringLiteral("新着メール 3 通"),
         QStringLiteral("alice@example.jp「会議の件」\ncarol@example.jp「（件名なし）」\ndave@example.jp「長い 件名」")},
        {5, {alice, alice, nobody, alice, alice}, QStringLiteral("新着メール 5 通"),
         QStringLiteral("alice@example.jp「会議の件」\nalice@example.jp「会議の件」\n差出人なし")},
        {12, {bob}, QStringLiteral("新着メール 12 通"), QStringLiteral("Bob <bob@example.jp>「A & B <i>」")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NewMailNotificationTitle(c.count), c.title);
        EXPECT_EQ(NewMailNotificationBody(c.lines), c.body) << c.count;
    }
    // A subject that would fill the bubble is cut, marked with an ellipsis.
    const QString longBody = NewMailNotificationBody({{QStringLiteral("e@example.jp"), QString(200, QChar(u'あ'))}});
    EXPECT_LT(longBody.size(), 80);
    EXPECT_TRUE(longBody.endsWith(QStringLiteral("…」"))) << longBody.toStdString();
}

}  // namespace
}  // namespace lumopet

#include "desktop_notifier_test.moc"
