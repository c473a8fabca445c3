// Not a test: saves pictures of the windows of writing mail, opened through
// the program's windows on a real display (run by scripts/screenshots_compose.sh
// under Xvfb), so that they can be looked at: the compose window with CC and
// BCC and completion open under CC, completion under 宛先, the reply window,
// 送信前の確認, 署名の編集, 送信の設定 and the question at start about drafts.
//
//   compose_windows_screens OUTPUT_FOLDER

#include "app/MainForm.h"
#include "app/draft_question.h"
#include "app/program_windows.h"
#include "compose/BackForm.h"
#include "compose/SendCheckForm.h"
#include "compose/WriteForm.h"
#include "compose/address_completer.h"
#include "compose/draft_keeper.h"
#include "core/program.h"
#include "core/settings_files/compose_options.h"
#include "mail/mail_library.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "ui/window_helpers.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
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
#include <QTimer>

#include <cstdio>

using namespace lumopet;

namespace {

QString out;
bool saved = true;

// The screen under the windows, the completion list included (a window of
// its own), saved as out/name.png.
void Save(std::initializer_list<const QWidget*> windows, const char* name) {
    QTest::qWait(600);
    QRect area;
    for (const QWidget* window : windows)
        if (window && window->isVisible()) area |= window->frameGeometry().united(window->geometry());
    area.adjust(-2, -2, 2, 2);
    const QString file = out + u'/' + QLatin1String(name) + QStringLiteral(".png");
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    saved = picture.save(file) && saved;
    std::printf("%s\n", qPrintable(file));
}

void ShowAt(QWidget* window) {
    window->move(40, 40);
    window->activateWindow();
    (void)QTest::qWaitForWindowExposed(window);
}

// The people completion finds: the address book and two senders.
void FillPeople(const Program& program) {
    const std::pair<const char16_t*, const char16_t*> people[] = {
        {u"山田 太郎", u"taro.yamada@example.co.jp"},  {u"山本 花子", u"hanako.yamamoto@example.co.jp"},
        {u"山口 健", u"ken@yamaguchi-sekkei.jp"},     {u"田中 一郎", u"tanaka@example.co.jp"},
        {u"ヤマザキ商事 営業部", u"sales@yamazaki-shoji.co.jp"}};
    for (const auto& [name, address] : people)
        AppendAddressEntry(AddressBookPath(program.paths), QString::fromUtf16(name), QString::fromUtf16(address));
    for (const char16_t* from : {u"山下 美咲 <misaki.yamashita@partner.example.com>", u"yamato-support@example.net"})
        AppendRecord(HistoryPath(program.paths, History::Received),
                     {QStringLiteral("ご連絡"), QString::fromUtf16(from), QStringLiteral("2026/12/09"), QStringLiteral("本文")},
                     History::Received);
}

void ComposeWindow(ProgramWindows& windows) {
    windows.ShowWriteForm();
    WriteForm& compose = windows.writeForm();
    ShowAt(&compose);
    AddressCompleter& completer = *compose.completer();
    QSignalSpy ready(&completer, &AddressCompleter::indexReady);
    if (!completer.hasIndex()) ready.wait(10000);
    compose.ToText->setPlainText(QStringLiteral("tanaka@example.co.jp"));
    compose.BccText->setText(QStringLiteral("suzuki@example.co.jp"));
    compose.SubjectText->setText(QStringLiteral("打ち合わせの日程について"));
    compose.BodyText->moveCursor(QTextCursor::Start);
    compose.BodyText->insertPlainText(
        QStringLiteral("田中様\n\nいつもお世話になっております。\n来週の打ち合わせの日程をご相談させてください。\n"));
    compose.CcText->setFocus();
    QTest::qWait(300);
    QTest::keyClicks(compose.CcText, QStringLiteral("yama"));
    Save({&compose, completer.popup()}, "compose_cc_bcc");
    QTest::keyClick(completer.popup(), Qt::Key_Escape);
    compose.CcText->clear();

    compose.ToText->setFocus();
    compose.ToText->moveCursor(QTextCursor::End);
    // Japanese comes from the input method, as a committed text.
    QInputMethodEvent typed;
    typed.setCommitString(QStringLiteral("、"));
    QApplication::sendEvent(compose.ToText, &typed);
    QTest::keyClicks(compose.ToText, QStringLiteral("yama"));
    Save({&compose, completer.popup()}, "address_completion");
    QTest::keyClick(completer.popup(), Qt::Key_Escape);
    compose.hide();
}

void ReplyWindow(ProgramWindows& windows) {
    windows.ShowBackForm({QStringLiteral("見積書送付のお願い"), QStringLiteral("山田 太郎 <taro.yamada@example.co.jp>"),
                          QStringLiteral("鈴木様\n\nお世話になっております。\n見積書をお送りいただけますでしょうか。\n\n山田")});
    BackForm& reply = windows.backForm();
    reply.CcText->setText(QStringLiteral("山本 花子 <hanako.yamamoto@example.co.jp>"));
    reply.BccText->setText(QStringLiteral("suzuki@example.co.jp"));
    ShowAt(&reply);
    Save({&reply}, "reply_cc_bcc");
    reply.hide();
}

void CheckWindow(const QString& folder) {
    QFile quote(folder + QStringLiteral("/見積書_2026年12月.pdf"));
    if (quote.open(QIODevice::WriteOnly)) quote.write(QByteArray(356 * 1024, 'x'));
    QFile plan(folder + QStringLiteral("/工程表.xlsx"));
    if (plan.open(QIODevice::WriteOnly)) plan.write(QByteArray(48 * 1024 + 300, 'x'));
    SendCheckForm check(MakeSendCheck(
        {QStringLiteral("山田 太郎 <taro.yamada@example.co.jp>, 山下 美咲 <misaki.yamashita@partner.example.com>"),
         QStringLiteral("tanaka@example.co.jp"), QStringLiteral("sales@yamazaki-shoji.co.jp")},
        QStringLiteral("suzuki@example.co.jp"), {quote.fileName(), plan.fileName()}));
    check.show();
    ShowAt(&check);
    // Two of four looked at: 送信 still waits for the others.
    check.RecipientList->item(0, 0)->setCheckState(Qt::Checked);
    check.RecipientList->item(2, 0)->setCheckState(Qt::Checked);
    Save({&check}, "send_check_form");
}

// 署名の編集 or 送信の設定, as 設定's menu opens it.
void SettingsWindow(void (ProgramWindows::*show)(), ProgramWindows& windows, const QString& title, const char* name) {
    (windows.*show)();
    QWidget* form = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->windowTitle() == title) form = window;
    if (!form) {
        saved = false;
        return;
    }
    ShowAt(form);
    Save({form}, name);
    form->close();
}

// The compose and the reply window's letters kept as the program ends, and
// the question the next start asks about them, answered by nobody.
void DraftQuestion(ProgramWindows& windows) {
    if (!DraftKeeper::saveAll().isEmpty()) saved = false;
    QTimer::singleShot(300, [] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!box) {
            saved = false;
            return;
        }
        ShowAt(box);
        Save({box}, "draft_question");
        box->reject();
    });
    OfferToOpenDrafts(windows);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: compose_windows_screens OUTPUT_FOLDER\n");
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("Lumopet"));
    QApplication::setFont(JapaneseFont(9));
    out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QTemporaryDir home;
    Program program{ProgramPaths(home.path())};
    if (!program.paths.createFolders()) return 1;
    NMailInitializeWinSock();
    FillPeople(program);
    ComposeOptions options;
    options.ConfirmRecipients = true;
    options.QuoteOnReply = true;
    options.Signatures[0] = QStringLiteral("鈴木 一郎\n株式会社サンプル 営業部\nTEL 03-1234-5678");
    options.Signatures[1] = QStringLiteral("すずき");
    options.DefaultSignature = 1;
    if (!WriteComposeOptions(program.paths.path(files::ProgramOptions), options)) return 1;

    {
        ProgramWindows windows(program);
        ComposeWindow(windows);
        ReplyWindow(windows);
        CheckWindow(home.path());
        SettingsWindow(&ProgramWindows::ShowSignatureForm, windows, QStringLiteral("署名の編集"), "signature_form");
        SettingsWindow(&ProgramWindows::ShowComposeOptionsForm, windows, QStringLiteral("送信の設定"),
                       "compose_options_form");
        DraftQuestion(windows);
    }
    NMailEndWinSock();
    return saved ? 0 : 1;
}
