// 迷惑メールの学習 over a stand-in bogofilter: a script the test writes,
// which keeps each call's arguments and standard input. What the real
// bogofilter makes of them is the junk filter's own tests' business.

#include "core/program.h"
#include "mail/mail_export.h"
#include "settings/JunkTrainingForm.h"
#include "store/history_file.h"
#include "tests/support/settings_window_fixture.h"
#include "tests/support/stand_in_bogofilter.h"
#include "ui/file_dialog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace lumopet {
namespace {

// A small message whose subject names it.
QByteArray message(const QString& subject) {
    return QStringLiteral("From: someone@example.jp\nTo: me@example.jp\nSubject: %1\nMessage-ID: <%1@example.jp>\n"
                          "Date: Thu, 10 Dec 2026 09:00:00 +0900\n\nbody of %1\n")
        .arg(subject)
        .toUtf8();
}

struct Call {
    QStringList arguments;
    QByteArray input;
};

class JunkTrainingTest : public test::SettingsWindowFixture {
protected:
    void SetUp() override {
        SettingsWindowFixture::SetUp();
        forgetCalls();
        useStandIn();
    }
    void TearDown() override {
        qunsetenv("LUMOPET_BOGOFILTER");
        SetFolderChooser({});
        SetOpenFileChooser({});
        SettingsWindowFixture::TearDown();
    }

    // bogofilter as a script that keeps what it was given, takes seconds a
    // call and ends with code.
    void useStandIn(int code = 0, const QByteArray& complaint = {}, double seconds = 0) {
        const QString script = test::WriteStandInBogofilter(
            folder.path(QStringLiteral("bogofilter")),
            "calls='" + QFile::encodeName(folder.path(QStringLiteral("calls"))) +
                "'\nn=$(ls \"$calls\" | wc -l)\nprintf '%s\\n' \"$@\" > \"$calls/$n.args\"\n"
                "cat > \"$calls/$n.in\"\nsleep " +
                QByteArray::number(seconds) + "\nprintf '%s' '" + complaint + "' >&2\nexit " + QByteArray::number(code));
        qputenv("LUMOPET_BOGOFILTER", QFile::encodeName(script));
    }

    // A fresh start: no calls kept, and a word list that learnt nothing.
    void forgetCalls() {
        QDir(folder.path(QStringLiteral("calls"))).removeRecursively();
        QDir().mkpath(folder.path(QStringLiteral("calls")));
        QDir(folder.path(QStringLiteral("★MailData/bogofilter"))).removeRecursively();
    }

    std::vector<Call> calls() const {
        std::vector<Call> found;
        const QDir dir(folder.path(QStringLiteral("calls")));
        for (int n = 0; QFileInfo::exists(dir.filePath(QStringLiteral("%1.in").arg(n))); ++n) {
            const QString args = QString::fromUtf8(folder.read(QStringLiteral("calls/%1.args").arg(n)));
            found.push_back({args.split(u'\n', Qt::SkipEmptyParts), folder.read(QStringLiteral("calls/%1.in").arg(n))});
        }
        return found;
    }

    // The message files named on the calls' input (bulk mode), by name.
    QSet<QString> namesLearnt() const {
        QSet<QString> names;
        for (const Call& call : calls())
            for (const QByteArray& line : call.input.split('\n'))
                if (!line.isEmpty()) names.insert(QFileInfo(QFile::decodeName(line)).fileName());
        return names;
    }

    // Messages into the received Maildir, every other one in new/, the
    // rest read, in cur/; returns their paths in the folder.
    QStringList receive(int count) {
        QStringList names;
        for (int i = 0; i < count; ++i) {
            const QString base = QStringLiteral("%1.M%2P1.host").arg(1'700'000'000 + i).arg(i);
            const QString path = i % 2 ? QStringLiteral("★MailData/Maildir/new/") + base
                                       : QStringLiteral("★MailData/Maildir/cur/") + base + QStringLiteral(":2,S");
            folder.write(path, message(QStringLiteral("m%1").arg(i)));
            names << path;
        }
        return names;
    }

    std::unique_ptr<JunkTrainingForm> open() {
        auto form = std::make_unique<JunkTrainingForm>(program);
        form->show();
        return form;
    }

    // Clicks the button and waits for the run it starts to end.
    static void runBy(JunkTrainingForm& form, QPushButton* button) {
        QSignalSpy finished(&form, &JunkTrainingForm::trainingFinished);
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(form.IsRunning());
        EXPECT_FALSE(form.HistoryCommand->isEnabled());
        EXPECT_TRUE(form.StopCommand->isEnabled());
        ASSERT_TRUE(finished.wait(20'000));
        EXPECT_FALSE(form.IsRunning());
        EXPECT_FALSE(form.StopCommand->isEnabled());
    }
};

// The received history is learnt as not junk, file by file. The junk the
// check set aside lies in the same Maildir: learnt as mail, it would teach
// the filter to let its like through.
TEST_F(JunkTrainingTest, TheReceivedHistoryIsLearntAsNotJunkButTheJunkHistorysCopies) {
    struct Case {
        const char* name;
        std::vector<int> junk;  // the messages that have a junk record
    };
    const Case cases[] = {{"no junk history", {}}, {"two junk records", {1, 2}}};
    const QStringList received = receive(4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QSet<QString> expected;
        for (const QString& path : received) expected.insert(QFileInfo(path).fileName());
        for (const int i : c.junk) {
            ASSERT_TRUE(AppendRecord(HistoryPath(program.paths, History::Junk),
                                     mail::ReceivedRecordOf(folder.read(received[i])), History::Junk));
            expected.remove(QFileInfo(received[i]).fileName());
        }
        auto form = open();
        EXPECT_EQ(form->JunkHistoryNote->isVisible(), !c.junk.empty());
        runBy(*form, form->HistoryCommand);

        ASSERT_FALSE(calls().empty());
        for (const Call& call : calls()) {
            EXPECT_TRUE(call.arguments.contains(QStringLiteral("-n"))) << call.arguments.join(u' ').toStdString();
            EXPECT_TRUE(call.arguments.contains(QStringLiteral("-b")));
            EXPECT_FALSE(call.arguments.contains(QStringLiteral("-s")));
        }
        EXPECT_EQ(namesLearnt(), expected);
        EXPECT_EQ(form->ResultLabel->text(),
                  QStringLiteral("%1 通を迷惑メールではないメールとして学習しました。").arg(expected.size()));
        forgetCalls();
    }
}

// The window hands the place chosen to the filter's training as junk; which
// places it reads (a Maildir, a folder, an mbox) is the filter's own test.
TEST_F(JunkTrainingTest, APlaceTheUserChoosesIsLearntAsJunk) {
    QByteArray mbox;
    QStringList subjects;
    for (const char* subject : {"junk-one", "junk-two", "junk-three"}) {
        mbox += "From someone@example.jp Thu Dec 10 09:00:00 2026\n" + message(QString::fromLatin1(subject)) + "\n";
        subjects << QString::fromLatin1(subject);
    }
    folder.write(QStringLiteral("spam.mbox"), mbox);
    const QString place = folder.path(QStringLiteral("spam.mbox"));
    int asked = 0;
    SetOpenFileChooser([&](const OpenFileRequest&) {
        ++asked;
        return place;
    });

    auto form = open();
    EXPECT_FALSE(form->JunkCommand->isEnabled()) << "nothing chosen yet";
    QTest::mouseClick(form->MboxCommand, Qt::LeftButton);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(form->PlaceText->text(), place);
    runBy(*form, form->JunkCommand);

    ASSERT_FALSE(calls().empty());
    QByteArray input;
    for (const Call& call : calls()) {
        EXPECT_TRUE(call.arguments.contains(QStringLiteral("-s"))) << call.arguments.join(u' ').toStdString();
        EXPECT_FALSE(call.arguments.contains(QStringLiteral("-n")));
        input += call.input;
    }
    for (const QString& subject : subjects)
        EXPECT_TRUE(input.contains(subject.toUtf8())) << subject.toStdString() << " in " << input.toStdString();
    EXPECT_EQ(form->ResultLabel->text(), QStringLiteral("%1 通を迷惑メールとして学習しました。").arg(subjects.size()));
    EXPECT_TRUE(messages.empty());
}

// 中止, and closing the window, stop a run between batches: what was learnt
// stays learnt and is told; closing ends with the window closed.
TEST_F(JunkTrainingTest, StoppingEndsTheRunAndSaysWhatWasLearnt) {
    receive(450);
    useStandIn(0, {}, 0.5);
    for (const bool byClosing : {false, true}) {
        SCOPED_TRACE(byClosing ? "closed" : "中止");
        forgetCalls();
        auto form = open();
        QSignalSpy finished(form.get(), &JunkTrainingForm::trainingFinished);
        QTest::mouseClick(form->HistoryCommand, Qt::LeftButton);
        ASSERT_TRUE(form->IsRunning());
        // Stopped while bogofilter learns the first batch.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return QFileInfo::exists(folder.path(QStringLiteral("calls/0.args"))); }, 10'000));
        if (byClosing) {
            form->close();
            EXPECT_TRUE(form->isVisible()) << "it waits for the run to stop";
        } else {
            QTest::mouseClick(form->StopCommand, Qt::LeftButton);
        }
        EXPECT_FALSE(form->StopCommand->isEnabled());
        ASSERT_TRUE(finished.wait(20'000));
        const int learnt = static_cast<int>(namesLearnt().size());
        EXPECT_GT(learnt, 0);
        EXPECT_LT(learnt, 450);
        EXPECT_EQ(form->ResultLabel->text(),
                  QStringLiteral("中止しました。それまでの %1 通を迷惑メールではないメールとして学習しました。").arg(learnt));
        EXPECT_EQ(form->isVisible(), !byClosing);
    }
}

// How each way of failing reads (bogofilter missing among them) is the
// junk filter's tests' business; here, that the window says it.
TEST_F(JunkTrainingTest, ABogofilterThatCannotLearnIsSaid) {
    receive(2);
    useStandIn(3, "cannot write wordlist");
    auto form = open();
    runBy(*form, form->HistoryCommand);
    const QString text = form->ResultLabel->text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("学習できませんでした。"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("cannot write wordlist"))) << text.toStdString();
    EXPECT_TRUE(form->HistoryCommand->isEnabled()) << "the user may try again";
}

TEST_F(JunkTrainingTest, NoReceivedMailLearnsNothingAndCallsNothing) {
    auto form = open();
    runBy(*form, form->HistoryCommand);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(form->ResultLabel->text(), QStringLiteral("学習するメールがありませんでした。"));
}

}  // namespace
}  // namespace lumopet
