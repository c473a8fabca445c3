// Not a test: saves pictures of address completion open under the compose
// window's 宛先 and of the 送信前の確認 window, on a real display (run by
// scripts/screenshots_completion_check.sh under Xvfb), so that they can be
// looked at.
//
//   completion_check_screens OUTPUT_FOLDER

#include "compose/SendCheckForm.h"
#include "compose/WriteForm.h"
#include "compose/address_completer.h"
#include "core/program.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "tests/support/fake_windows.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace lumopet;

namespace {

// The desktop under the windows, their frames and the list included: the
// list is a window of its own.
bool SaveArea(const QRect& area, const QString& file) {
    QTest::qWait(600);
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (!picture.save(file)) return false;
    std::printf("%s\n", qPrintable(file));
    return true;
}

QRect FramesOf(std::initializer_list<const QWidget*> windows) {
    QRect area;
    for (const QWidget* window : windows) {
        if (window && window->isVisible()) area |= window->frameGeometry().united(window->geometry());
    }
    return area.adjusted(-2, -2, 2, 2);
}

void FillPeople(const Program& program) {
    const QString book = AddressBookPath(program.paths);
    const std::pair<const char16_t*, const char16_t*> people[] = {
        {u"山田 太郎", u"taro.yamada@example.co.jp"},  {u"山本 花子", u"hanako.yamamoto@example.co.jp"},
        {u"山口 健", u"ken@yamaguchi-sekkei.jp"},     {u"田中 一郎", u"tanaka@example.co.jp"},
        {u"ヤマザキ商事 営業部", u"sales@yamazaki-shoji.co.jp"}};
    for (const auto& [name, address] : people)
        AppendAddressEntry(book, QString::fromUtf16(name), QString::fromUtf16(address));
    const QString received = HistoryPath(program.paths, History::Received);
    for (const char16_t* from : {u"山下 美咲 <misaki.yamashita@partner.example.com>", u"yamato-support@example.net"})
        AppendRecord(received, {QStringLiteral("ご連絡"), QString::fromUtf16(from), QStringLiteral("2026/12/09"),
                                QStringLiteral("本文")},
                     History::Received);
}

SendCheck SampleCheck(const QString& folder) {
    QFile quote(folder + QStringLiteral("/見積書_2026年12月.pdf"));
    if (quote.open(QIODevice::WriteOnly)) quote.write(QByteArray(356 * 1024, 'x'));
    QFile plan(folder + QStringLiteral("/工程表.xlsx"));
    if (plan.open(QIODevice::WriteOnly)) plan.write(QByteArray(48 * 1024 + 300, 'x'));
    return MakeSendCheck({QStringLiteral("山田 太郎 <taro.yamada@example.co.jp>, 山下 美咲 <misaki.yamashita@partner.example.com>"),
                          QStringLiteral("tanaka@example.co.jp"), QStringLiteral("sales@yamazaki-shoji.co.jp")},
                         QStringLiteral("suzuki@example.co.jp"),
                         {quote.fileName(), plan.fileName()});
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: completion_check_screens OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QTemporaryDir home;
    Program program{ProgramPaths(home.path())};
    if (!program.paths.createFolders()) return 1;
    FillPeople(program);
    FakeWindows windows{program};

    WriteForm form(windows);
    form.Form_Load();
    form.move(40, 40);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return 1;
    // The window reads its people on a worker as it opens.
    AddressCompleter& completer = *form.completer();
    if (!completer.hasIndex()) {
        QSignalSpy ready(&completer, &AddressCompleter::indexReady);
        if (!ready.wait(10000)) return 1;
    }
    form.activateWindow();
    form.ToText->setFocus();
    QTest::qWait(300);
    QTest::keyClicks(form.ToText, QStringLiteral("tanaka@example.co.jp"));
    // Japanese comes from the input method, as a committed text.
    QInputMethodEvent typed;
    typed.setCommitString(QStringLiteral("、"));
    QApplication::sendEvent(form.ToText, &typed);
    QTest::keyClicks(form.ToText, QStringLiteral("yama"));
    if (!SaveArea(FramesOf({&form, completer.popup()}), out + QStringLiteral("/address_completion.png"))) return 1;
    completer.popup()->hide();
    form.hide();

    SendCheckForm check(SampleCheck(home.path()));
    check.move(40, 40);
    check.show();
    if (!QTest::qWaitForWindowExposed(&check)) return 1;
    // Two of four looked at: 送信 still waits for the others.
    check.RecipientList->item(0, 0)->setCheckState(Qt::Checked);
    check.RecipientList->item(2, 0)->setCheckState(Qt::Checked);
    if (!SaveArea(FramesOf({&check}), out + QStringLiteral("/send_check_form.png"))) return 1;
    return 0;
}
