// The viewer's deletions in the received history reach the UIDL file, so
// that a message left on the server may go with its record; the sent
// history never touches it, and a file that cannot take the note undoes no
// deletion.

#include "core/program.h"
#include "store/history_file.h"
#include "store/stored_uidls.h"
#include "tests/support/fake_windows.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/message_box.h"
#include "viewer/TyakuForm.h"
#include "viewer/editor_module.h"
#include "viewer/history_list_model.h"

#include <QFile>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace lumopet {
namespace {

HistoryRecord record(int n) {
    return {QStringLiteral("件名%1").arg(n), QStringLiteral("送信者%1 <s%1@x.jp>").arg(n),
            QStringLiteral("2026/12/%1").arg(n, 2, 10, QChar(u'0')), QStringLiteral("本文%1\r\n二行目").arg(n), 1};
}

// The UIDL file as a check leaves it after storing records 1 to 3.
QByteArray uidlFile(const QList<int>& deleted = {}) {
    QByteArray bytes;
    for (int n = 1; n <= 3; ++n) {
        bytes += "u" + QByteArray::number(n) + " stored=2026-12-01 record=" + RecordFingerprint(record(n));
        if (deleted.contains(n)) bytes += " deleted";
        bytes += '\n';
    }
    return bytes;
}

enum class Blocked { No, FileIsALink };

struct NoteCase {
    const char* name;
    History history;
    bool all;
    Blocked blocked;
    QByteArray after;   // the UIDL file afterwards
    int recordsLeft;
    bool errorBox;
};

class DeletionNotes : public ::testing::TestWithParam<NoteCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.paths.createFolders());
        SetMessageAnswerer([this](const MessageRequest& request) {
            messages.push_back(request);
            return request.kind == MessageKind::Question ? MessageAnswer::Yes : MessageAnswer::Ok;
        });
        EditorModule::Instance() = EditorModule{};
    }
    void TearDown() override {
        form.reset();
        SetMessageAnswerer({});
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    FakeWindows windows{program};
    std::unique_ptr<TyakuForm> form;
    std::vector<MessageRequest> messages;
};

TEST_P(DeletionNotes, TheReceivedHistorysDeletionsAreNoted) {
    const NoteCase& c = GetParam();
    const QString history = HistoryPath(program.paths, c.history);
    for (int n = 1; n <= 3; ++n) ASSERT_TRUE(AppendRecord(history, record(n), c.history));
    const QString uidls = StoredUidlsPath(program.paths);
    const QString target = c.blocked == Blocked::FileIsALink ? folder.path(QStringLiteral("elsewhere")) : uidls;
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(uidlFile());
    }
    if (c.blocked == Blocked::FileIsALink) {
        ASSERT_TRUE(QFile::link(target, uidls));
    }

    form = std::make_unique<TyakuForm>(windows);
    form->Form_Load();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->LoadHistory(c.history);
    messages.clear();
    if (c.all) {
        form->Command5_Click();
    } else {
        const QRect cell = form->MailListView->visualRect(form->listModel().index(1, 0));
        QTest::mouseClick(form->MailListView->viewport(), Qt::LeftButton, {}, cell.center());
        form->Command1_Click();
    }

    EXPECT_EQ(static_cast<int>(ReadAll(history).size()), c.recordsLeft) << "the deletion stands";
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), c.after);
    ASSERT_EQ(messages.size(), c.errorBox ? 2u : 1u);
    if (c.errorBox) {
        EXPECT_EQ(messages[1].kind, MessageKind::Error);
        EXPECT_TRUE(messages[1].text.startsWith(QStringLiteral("メールは履歴から削除しましたが"))) << messages[1].text.toStdString();
        EXPECT_TRUE(messages[1].text.contains(QStringLiteral("受信済みメールの一覧"))) << messages[1].text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Deletions, DeletionNotes,
    ::testing::Values(NoteCase{"OneReceived", History::Received, false, Blocked::No, uidlFile({2}), 2, false},
                      NoteCase{"AllReceived", History::Received, true, Blocked::No, uidlFile({1, 2, 3}), 0, false},
                      NoteCase{"OneSent", History::Sent, false, Blocked::No, uidlFile(), 2, false},
                      NoteCase{"AllSent", History::Sent, true, Blocked::No, uidlFile(), 0, false},
                      NoteCase{"OneReceivedFileIsALink", History::Received, false, Blocked::FileIsALink, uidlFile(), 2, true},
                      NoteCase{"AllReceivedFileIsALink", History::Received, true, Blocked::FileIsALink, uidlFile(), 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet
