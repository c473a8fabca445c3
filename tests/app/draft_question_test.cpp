// The question at start about the drafts a past run left: 開く puts the
// newest compose and reply draft back into their windows and leaves the
// rest, 破棄 removes them, no answer keeps them, none asks nothing, and a
// damaged file is named in the status line, not opened.

#include "app/MainForm.h"
#include "app/draft_question.h"
#include "app/program_windows.h"
#include "compose/BackForm.h"
#include "compose/WriteForm.h"
#include "core/program.h"
#include "store/draft_folder.h"
#include "tests/support/temp_folder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

namespace lumopet {
namespace {

// Answers the question with the button of that text ("" closes it with
// Esc), and remembers what it asked.
struct Answerer {
    explicit Answerer(QString text) : button(std::move(text)) {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            asked = box->text();
            if (this->button.isEmpty()) {
                box->reject();
                return;
            }
            for (QAbstractButton* each : box->buttons())
                if (each->text() == this->button) each->click();
        });
        timer.start();
    }
    QString button;
    QString asked;
    QTimer timer;
};

class DraftQuestion : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.paths.createFolders());
        windows.mainForm().Form_Load();
        windows.mainForm().show();
    }
    // A draft saved as if secondsAgo seconds ago.
    void store(DraftWindow window, const QString& body, int secondsAgo) {
        ComposeDraft draft;
        draft.window = window;
        draft.to = QStringLiteral("a@example.com");
        draft.body = body;
        const auto saved = SaveDraft(maildir(), NewDraftId(), draft);
        ASSERT_TRUE(saved);
        const timespec when[2] = {{time(nullptr) - secondsAgo, 0}, {time(nullptr) - secondsAgo, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(saved.value()).constData(), when, 0), 0);
    }
    QString maildir() const { return DraftsMaildirPath(program.paths); }
    std::size_t draftsLeft() const {
        const auto listing = ReadDrafts(maildir());
        return listing ? listing.value().drafts.size() : 999;
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramWindows windows{program};
};

TEST_F(DraftQuestion, EachAnswer) {
    struct Case {
        const char* name;
        const char* button;
        bool stored;  // four drafts beside the damaged file
        std::size_t left;
        bool opened;
    };
    const Case cases[] = {
        {"開く", "開く", true, 4, true},
        {"破棄", "破棄", true, 0, false},
        {"closed without an answer", "", true, 4, false},
        {"only a damaged file: no question", "開く", false, 0, false},
    };
    for (const Case& c : cases) {
        const QString drafts = maildir();
        QDir(drafts).removeRecursively();
        if (c.stored) {
            store(DraftWindow::Compose, QStringLiteral("古い新規"), 300);
            store(DraftWindow::Compose, QStringLiteral("新しい新規"), 100);
            store(DraftWindow::Reply, QStringLiteral("新しい返事"), 50);
            store(DraftWindow::Reply, QStringLiteral("古い返事"), 200);
        }
        folder.write(QStringLiteral("★MailData/Maildir.drafts/new/1.2_3.host,U=") + QString::fromLatin1(QByteArray("bad").toHex()),
                     "not a draft");
        Answerer answer(QString::fromUtf8(c.button));
        OfferToOpenDrafts(windows);
        EXPECT_EQ(answer.asked, c.stored ? QStringLiteral("書きかけのメールが 4 通あります") : QString()) << c.name;
        QApplication::processEvents();
        EXPECT_EQ(draftsLeft(), c.left) << c.name;
        EXPECT_TRUE(windows.mainForm().Text1->text().contains(QStringLiteral("壊れています"))) << c.name;
        EXPECT_EQ(windows.isWriteFormLoaded() && windows.writeForm().isVisible(), c.opened) << c.name;
        if (c.opened) {
            EXPECT_EQ(windows.writeForm().BodyText->toPlainText(), QStringLiteral("新しい新規")) << c.name;
            EXPECT_EQ(windows.backForm().BodyText->toPlainText(), QStringLiteral("新しい返事")) << c.name;
            // Typed on, each window replaces its own draft: still four.
            windows.writeForm().BodyText->appendPlainText(QStringLiteral("続き"));
            windows.writeForm().close();
            windows.backForm().close();
            QApplication::processEvents();
            const auto listing = ReadDrafts(maildir());
            ASSERT_TRUE(listing);
            ASSERT_EQ(listing.value().drafts.size(), 4u) << c.name;
            const auto& left = listing.value().drafts;
            EXPECT_TRUE(std::any_of(left.begin(), left.end(),
                                    [](const StoredDraft& d) { return d.draft.body == QStringLiteral("新しい新規\n続き"); }))
                << c.name;
        }
    }
}

}  // namespace
}  // namespace lumopet
