// The tray icon's menu, tooltip and unread badge (offscreen: no tray to
// show it in, which the class does not need).

#include "app/mail_tray_icon.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace lumopet {
namespace {

TEST(MailTrayIconTest, MenuEntriesInOrderEachSayTheirOwnCommand) {
    MailTrayIcon icon;
    using Signal = void (MailTrayIcon::*)();
    const std::pair<QString, Signal> entries[] = {
        {QStringLiteral("受信"), &MailTrayIcon::receiveRequested},
        {QStringLiteral("新規作成"), &MailTrayIcon::composeRequested},
        {QStringLiteral("着信履歴"), &MailTrayIcon::receivedHistoryRequested},
        {QStringLiteral("メイン画面"), &MailTrayIcon::mainWindowRequested},
        {QStringLiteral("終了"), &MailTrayIcon::quitRequested},
    };
    std::vector<QAction*> actions;
    for (QAction* action : icon.menu()->actions())
        if (!action->isSeparator()) actions.push_back(action);
    ASSERT_EQ(actions.size(), std::size(entries));

    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (const auto& entry : entries) spies.push_back(std::make_unique<QSignalSpy>(&icon, entry.second));
    for (size_t i = 0; i < actions.size(); ++i) {
        EXPECT_EQ(actions[i]->text(), entries[i].first);
        actions[i]->trigger();
        for (size_t j = 0; j < spies.size(); ++j)
            EXPECT_EQ(spies[j]->count(), j <= i ? 1 : 0) << entries[i].first.toStdString() << " " << j;
    }

    // A click on the icon brings the main window; the right button only
    // opens the menu.
    auto* tray = icon.findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    QSignalSpy mainWindow(&icon, &MailTrayIcon::mainWindowRequested);
    Q_EMIT tray->activated(QSystemTrayIcon::Context);
    EXPECT_EQ(mainWindow.count(), 0);
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(mainWindow.count(), 1);
}

TEST(MailTrayIconTest, TooltipNamesTheProgramAndTheLastCheck) {
    MailTrayIcon icon;
    EXPECT_EQ(icon.toolTip(), QStringLiteral("Lumopet"));
    icon.setLastCheck(QDateTime(QDate(2024, 5, 1), QTime(9, 5)), QStringLiteral("新着メール 2 通"));
    const QString text = icon.toolTip();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Lumopet\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("2024/05/01 09:05"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("新着メール 2 通"))) << text.toStdString();
    icon.setLastCheck(QDateTime(QDate(2024, 5, 1), QTime(9, 15)), QStringLiteral("新着メール無し"));
    EXPECT_FALSE(icon.toolTip().contains(QStringLiteral("2 通")));
    EXPECT_TRUE(icon.toolTip().contains(QStringLiteral("09:15")));
}

TEST(MailTrayIconTest, UnreadMailPutsABadgeOnTheIconAndTakesItOff) {
    MailTrayIcon icon;
    const QImage plain = icon.icon().pixmap(22, 22).toImage();
    ASSERT_FALSE(plain.isNull());
    EXPECT_FALSE(icon.unread());
    icon.setUnread(true);
    EXPECT_TRUE(icon.unread());
    EXPECT_NE(icon.icon().pixmap(22, 22).toImage(), plain);
    icon.setUnread(false);
    EXPECT_EQ(icon.icon().pixmap(22, 22).toImage(), plain);
}

}  // namespace
}  // namespace lumopet
