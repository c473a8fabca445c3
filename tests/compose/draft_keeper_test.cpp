// The keeper of a window's draft, on a stand-in window: when it writes, what
// it leaves, and that the program's end and a send find it.

#include "compose/draft_keeper.h"
#include "tests/support/temp_folder.h"

#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace lumopet {
namespace {

// A window that holds a draft and says when it changes.
struct StandIn {
    explicit StandIn(const QString& maildir)
        : window(std::make_unique<QWidget>()),
          keeper(new DraftKeeper(window.get(), maildir, [this] { return draft; }, [this] { return IsBlankDraft(draft); })) {}
    void type(const QString& text) {
        draft.body += text;
        keeper->contentChanged();
    }
    ComposeDraft draft;
    std::unique_ptr<QWidget> window;
    DraftKeeper* keeper;
};

std::vector<QString> bodies(const QString& maildir) {
    const auto listing = ReadDrafts(maildir);
    EXPECT_TRUE(listing);
    std::vector<QString> found;
    if (listing)
        for (const StoredDraft& d : listing.value().drafts) found.push_back(d.draft.body);
    std::sort(found.begin(), found.end());
    return found;
}

TEST(DraftKeeper, WritesWhenTypingPausesAndEveryFiveSecondsWhileItGoesOn) {
    test::TempFolder folder;
    const QString maildir = folder.path(QStringLiteral("Maildir.drafts"));
    StandIn form(maildir);
    QElapsedTimer clock;
    clock.start();
    // A key every 200 ms: never a pause long enough on its own.
    while (bodies(maildir).empty() && clock.elapsed() < 8000) {
        form.type(QStringLiteral("あ"));
        QTest::qWait(200);
    }
    // Not written while the keys came faster than the quiet wait, and
    // written once the longest wait was over (with room for a busy machine).
    EXPECT_LE(clock.elapsed(), DraftKeeper::kLongestWaitMilliseconds + 1500);
    EXPECT_GE(clock.elapsed(), DraftKeeper::kLongestWaitMilliseconds - 600);

    // One change, then quiet: written after the short wait.
    form.type(QStringLiteral("終"));
    clock.restart();
    while (bodies(maildir) != std::vector<QString>{form.draft.body} && clock.elapsed() < 8000) QTest::qWait(50);
    EXPECT_EQ(bodies(maildir), std::vector<QString>{form.draft.body});
    EXPECT_LE(clock.elapsed(), DraftKeeper::kQuietMilliseconds + 1500);
}

// A window going on under another id (the reply window filled anew, a
// window opened from a stored draft) is asserted through the windows
// (back_form_test.cpp, draft_question_test.cpp); the program's end below.
TEST(DraftKeeper, WhatEachEndLeaves) {
    struct Case {
        const char* name;
        std::function<void(StandIn&)> act;
        std::vector<QString> left;
    };
    const Case cases[] = {
        {"the window closes", [](StandIn& f) { f.type(QStringLiteral("閉")); f.window->close(); }, {QStringLiteral("閉")}},
        {"下書き保存", [](StandIn& f) { f.type(QStringLiteral("保")); EXPECT_TRUE(f.keeper->saveNow()); }, {QStringLiteral("保")}},
        {"a window that holds nothing", [](StandIn& f) { f.type(QString()); f.window->close(); }, {}},
        {"everything typed was deleted again",
         [](StandIn& f) {
             f.type(QStringLiteral("消"));
             ASSERT_TRUE(f.keeper->saveNow());
             f.draft.body.clear();
             f.keeper->contentChanged();
             f.window->close();
         },
         {}},
        {"the message was sent, then the window closed",
         [](StandIn& f) {
             f.type(QStringLiteral("送"));
             ASSERT_TRUE(f.keeper->saveNow());
             f.keeper->discard();
             f.window->close();
             DraftKeeper::saveAll();
         },
         {}},
        {"typed again after a send",
         [](StandIn& f) {
             f.type(QStringLiteral("送"));
             f.keeper->discard();
             f.type(QStringLiteral("再"));
             f.window->close();
         },
         {QStringLiteral("送再")}},
    };
    for (const Case& c : cases) {
        test::TempFolder folder;
        const QString maildir = folder.path(QStringLiteral("Maildir.drafts"));
        StandIn form(maildir);
        c.act(form);
        EXPECT_EQ(bodies(maildir), c.left) << c.name;
    }
}

TEST(DraftKeeper, SaveAllReachesEveryWindowAndOnlyLiveOnes) {
    test::TempFolder folder;
    const QString maildir = folder.path(QStringLiteral("Maildir.drafts"));
    StandIn compose(maildir);
    StandIn reply(maildir);
    {
        StandIn gone(maildir);
        gone.type(QStringLiteral("x"));
        gone.window.reset();  // destroyed without a close: its keeper goes with it
    }
    compose.type(QStringLiteral("新規"));
    reply.type(QStringLiteral("返事"));
    EXPECT_TRUE(DraftKeeper::saveAll().isEmpty());
    EXPECT_EQ(bodies(maildir), (std::vector<QString>{QStringLiteral("新規"), QStringLiteral("返事")}));
}

}  // namespace
}  // namespace lumopet
