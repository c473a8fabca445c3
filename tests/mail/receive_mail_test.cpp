// The mail check over a scripted server: what it does with messages an
// earlier, interrupted check already stored.

#include "core/program.h"
#include "mail/mail_library.h"
#include "mail/receive_mail.h"
#include "store/history_file.h"
#include "store/stored_uidls.h"
#include "tests/mail/scripted_transport.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

using mail::test::ScriptedMailbox;
using mail::test::ScriptedTransport;

class QuietHost : public MailCheckHost {
public:
    void setHelpLine(const QString&) override {}
    void showProgress(int, int) override {}
    void setAccountTexts(const QString&, const QString&) override {}
    void showIdPassForm() override {}
    void clearViewerList() override {}
    void addViewerRow(const QString&, const QString&, const QString&) override {}
    void showInViewer(const QString&, const QString&, const QString&, const QString&) override {}
    void showMessage(const QString& text, const QString&) override { messages.append(text); }
    QStringList messages;
};

QByteArray message(int n) { return QStringLiteral("Subject: msg %1\r\n\r\nbody %1\r\n").arg(n).toUtf8(); }

struct StoredCase {
    const char* name;
    std::vector<QString> serverUidls;  // empty: no UIDL command
    QByteArray fileBefore;             // the UIDL file as the last check left it
    QStringList stored;                // subjects this check stores
    QStringList log;                   // retrievals and deletions, in order
    QSet<QString> fileAfter;
};

class ReceiveStored : public ::testing::TestWithParam<StoredCase> {
protected:
    void SetUp() override { SetMailTransport(std::make_unique<ScriptedTransport>(box)); }
    void TearDown() override { SetMailTransport(nullptr); }

    std::shared_ptr<ScriptedMailbox> box = std::make_shared<ScriptedMailbox>();
    test::TempFolder folder;
};

TEST_P(ReceiveStored, DeletesWhatIsStoredAndStoresTheRest) {
    const StoredCase& c = GetParam();
    Program program{ProgramPaths(folder.path())};
    ASSERT_TRUE(program.paths.createFolders());
    folder.write(QStringLiteral("★MailData/iniIdPass.ini"), "[EXEINI]\r\nNAME=user\r\nNAME2=pw\r\n");
    program.values.Pop3Server = QStringLiteral("pop.example.jp");
    box->messages = {message(1), message(2), message(3)};
    box->uidls = c.serverUidls;
    const QString uidlFile = StoredUidlsPath(program.paths);
    if (!c.fileBefore.isNull()) {
        QFile file(uidlFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.fileBefore);
    }

    QuietHost host;
    const MailCheckResult result = ReceiveMail(program, host);

    EXPECT_TRUE(host.messages.isEmpty()) << host.messages.join(u'\n').toStdString();
    EXPECT_EQ(result.MailCount, c.stored.size());
    QStringList subjects;
    for (const HistoryRecord& record : ReadAll(HistoryPath(program.paths, History::Received))) subjects << record.Subject;
    EXPECT_EQ(subjects, c.stored);
    QStringList log = box->log.filter(QRegularExpression(QStringLiteral("^(retr|dele)")));
    EXPECT_EQ(log, c.log);
    EXPECT_EQ(box->deleted, (std::set<int>{1, 2, 3}));
    const auto after = ReadStoredUidls(uidlFile, HistoryPath(program.paths, History::Received));
    ASSERT_TRUE(after);
    EXPECT_EQ(after.value(), c.fileAfter);
}

const QStringList kAll = {QStringLiteral("msg 1"), QStringLiteral("msg 2"), QStringLiteral("msg 3")};
const QStringList kAllFetched = {QStringLiteral("retr 1"), QStringLiteral("dele 1"), QStringLiteral("retr 2"),
                                 QStringLiteral("dele 2"), QStringLiteral("retr 3"), QStringLiteral("dele 3")};
const std::vector<QString> kUidls = {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")};

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceiveStored,
    ::testing::Values(
        StoredCase{"first_check_stores_all_and_notes_them", kUidls, QByteArray(), kAll, kAllFetched,
                   {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")}},
        StoredCase{"stored_one_is_deleted_unfetched",
                   kUidls,
                   "u2\n",
                   {QStringLiteral("msg 1"), QStringLiteral("msg 3")},
                   {QStringLiteral("retr 1"), QStringLiteral("dele 1"), QStringLiteral("dele 2"), QStringLiteral("retr 3"),
                    QStringLiteral("dele 3")},
                   {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")}},
        StoredCase{"uidls_the_server_no_longer_lists_are_forgotten", kUidls, "gone\nu1\n",
                   {QStringLiteral("msg 2"), QStringLiteral("msg 3")},
                   {QStringLiteral("dele 1"), QStringLiteral("retr 2"), QStringLiteral("dele 2"), QStringLiteral("retr 3"),
                    QStringLiteral("dele 3")},
                   {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")}},
        StoredCase{"a_noted_line_whose_record_never_came_is_fetched_again", kUidls, "u1 0\n", kAll, kAllFetched,
                   {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")}},
        // A second copy rather than a lost message; the file is left as it was.
        StoredCase{"no_uidl_command_stores_everything", {}, "u2\n", kAll, kAllFetched, {QStringLiteral("u2")}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet
