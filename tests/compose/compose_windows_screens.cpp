// Not a test: saves pictures of the compose window with its CC and BCC rows
// and completion open under CC, and of the reply window with its CC and BCC
// rows, on a real display (run by scripts/screenshots_compose.sh under
// Xvfb), so that they can be looked at.
//
//   compose_windows_screens OUTPUT_FOLDER

#include "compose/BackForm.h"
#include "compose/WriteForm.h"
#include "compose/address_completer.h"
#include "core/program.h"
#include "core/settings_files/compose_options.h"
#include "core/settings_files/receive_options.h"
#include "mail/mail_library.h"
#include "store/address_book.h"
#include "tests/support/fake_windows.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <cstdio>

using namespace lumopet;

namespace {

bool SaveArea(const QRect& area, const QString& file) {
    QTest::qWait(600);
    const QPixmap picture =
        QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (!picture.save(file)) return false;
    std::printf("%s\n", qPrintable(file));
    return true;
}

// The window and the completion list, which is a window of its own.
QRect FramesOf(std::initializer_list<const QWidget*> windows) {
    QRect area;
    for (const QWidget* window : windows)
        if (window && window->isVisible()) area |= window->frameGeometry().united(window->geometry());
    return area.adjusted(-2, -2, 2, 2);
}

bool WaitForPeople(AddressCompleter& completer) {
    if (completer.hasIndex()) return true;
    QSignalSpy ready(&completer, &AddressCompleter::indexReady);
    return ready.wait(10000);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: compose_windows_screens OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QTemporaryDir home;
    Program program{ProgramPaths(home.path())};
    if (!program.paths.createFolders()) return 1;
    NMailInitializeWinSock();
    const std::pair<const char16_t*, const char16_t*> people[] = {
        {u"山田 太郎", u"taro.yamada@example.co.jp"},
        {u"山本 花子", u"hanako.yamamoto@example.co.jp"},
        {u"山口 健", u"ken@yamaguchi-sekkei.jp"},
        {u"田中 一郎", u"tanaka@example.co.jp"}};
    for (const auto& [name, address] : people)
        AppendAddressEntry(AddressBookPath(program.paths), QString::fromUtf16(name), QString::fromUtf16(address));
    ComposeOptions options;
    options.Signatures[0] = QStringLiteral("鈴木 一郎\n株式会社サンプル 営業部");
    options.DefaultSignature = 1;
    if (!WriteComposeOptions(program.paths.path(files::ProgramOptions), options)) return 1;
    FakeWindows windows{program};

    WriteForm compose(windows);
    compose.Form_Load();
    compose.move(40, 40);
    compose.show();
    if (!QTest::qWaitForWindowExposed(&compose) || !WaitForPeople(*compose.completer())) return 1;
    compose.ToText->setPlainText(QStringLiteral("tanaka@example.co.jp"));
    compose.BccText->setText(QStringLiteral("suzuki@example.co.jp"));
    compose.SubjectText->setText(QStringLiteral("打ち合わせの日程について"));
    compose.BodyText->moveCursor(QTextCursor::Start);
    compose.BodyText->insertPlainText(QStringLiteral("田中様\n\nいつもお世話になっております。\n来週の打ち合わせの日程をご相談させてください。\n"));
    compose.activateWindow();
    compose.CcText->setFocus();
    QTest::qWait(300);
    QTest::keyClicks(compose.CcText, QStringLiteral("yama"));
    if (!SaveArea(FramesOf({&compose, compose.completer()->popup()}), out + QStringLiteral("/compose_cc_bcc.png")))
        return 1;
    compose.completer()->popup()->hide();
    compose.hide();

    BackForm reply(windows);
    reply.Form_Load();
    reply.FillReply({QStringLiteral("見積書送付のお願い"), QStringLiteral("山田 太郎 <taro.yamada@example.co.jp>"),
                     QStringLiteral("鈴木様\n\nお世話になっております。\n見積書をお送りいただけますでしょうか。\n\n山田")});
    reply.CcText->setText(QStringLiteral("山本 花子 <hanako.yamamoto@example.co.jp>"));
    reply.BccText->setText(QStringLiteral("suzuki@example.co.jp"));
    reply.move(40, 40);
    reply.show();
    if (!QTest::qWaitForWindowExposed(&reply)) return 1;
    if (!SaveArea(FramesOf({&reply}), out + QStringLiteral("/reply_cc_bcc.png"))) return 1;
    NMailEndWinSock();
    return 0;
}
