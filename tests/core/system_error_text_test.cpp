#include "core/safe_file.h"
#include "core/system_error_text.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>

namespace lumopet {
namespace {

struct ReasonCase {
    const char* name;
    int error;
    const char16_t* expected;
};

class SystemErrorTextTest : public testing::TestWithParam<ReasonCase> {};

// The reasons a user can act on, by errno and by the text Qt made of it.
TEST_P(SystemErrorTextTest, InJapanese) {
    const ReasonCase& c = GetParam();
    const QString expected = QString::fromUtf16(c.expected);
    EXPECT_EQ(SystemErrorText(c.error), expected);
    EXPECT_EQ(SystemErrorText(QString::fromLocal8Bit(std::strerror(c.error))), expected);
}

INSTANTIATE_TEST_SUITE_P(Common, SystemErrorTextTest,
                         testing::Values(ReasonCase{"NoSpace", ENOSPC, u"ディスクの空き容量が足りません"},
                                         ReasonCase{"Quota", EDQUOT, u"ディスク使用量の上限（クォータ）を超えました"},
                                         ReasonCase{"Permission", EACCES, u"アクセスする権限がありません"},
                                         ReasonCase{"NotPermitted", EPERM, u"この操作は許可されていません"},
                                         ReasonCase{"ReadOnly", EROFS, u"読み取り専用のファイルシステムです"},
                                         ReasonCase{"IsAFolder", EISDIR, u"ファイルではなくフォルダです"},
                                         ReasonCase{"NotFound", ENOENT, u"ファイルまたはフォルダが見つかりません"},
                                         ReasonCase{"TooManyLinks", EMLINK, u"リンクが多すぎます"},
                                         ReasonCase{"ALink", ELOOP, u"シンボリックリンクのため開きません"},
                                         ReasonCase{"Refused", ECONNREFUSED, u"接続を拒否されました"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SystemErrorText, AnUncommonReasonKeepsTheSystemsText) {
    EXPECT_EQ(SystemErrorText(ECONNRESET), QString::fromLocal8Bit(std::strerror(ECONNRESET)));
    EXPECT_EQ(SystemErrorText(QStringLiteral("Unknown error 9999")), QStringLiteral("Unknown error 9999"));
}

// What a user meets: a save over a folder, and a file that is not there,
// told in the program's sentences without an English word inside.
TEST(SystemErrorText, ReachesTheMessagesOfRealFailures) {
    test::TempFolder folder;
    const QString aFolder = folder.path() + QStringLiteral("/a folder");
    ASSERT_TRUE(QDir().mkdir(aFolder));
    const Status saved = WriteFileSafely(aFolder, QByteArrayView("text"));
    ASSERT_FALSE(saved);
    EXPECT_TRUE(saved.error().contains(QStringLiteral("フォルダ"))) << saved.error().toStdString();
    EXPECT_FALSE(saved.error().contains(QStringLiteral("directory"), Qt::CaseInsensitive)) << saved.error().toStdString();

    QFile missing(folder.path() + QStringLiteral("/missing.txt"));
    ASSERT_FALSE(missing.open(QIODevice::ReadOnly));
    EXPECT_EQ(SystemErrorText(missing.errorString()), QStringLiteral("ファイルまたはフォルダが見つかりません"));
}

}  // namespace
}  // namespace lumopet
