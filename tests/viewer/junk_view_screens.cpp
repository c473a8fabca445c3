// Not a test: saves pictures of 迷惑メール in the history viewer on a real
// display (run by scripts/screenshots_junk.sh under Xvfb), so that they can
// be looked at: 着信履歴 with its 迷惑メール buttons (junk_button.png), and
// the junk view showing a message with 迷惑メールではない (junk_view.png).
//
//   junk_view_screens OUTPUT_FOLDER

#include "core/program.h"
#include "mail/mail_export.h"
#include "mail/mail_library.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "tests/support/fake_windows.h"
#include "viewer/TyakuForm.h"
#include "viewer/history_list_model.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <cstdio>

using namespace lumopet;

namespace {

struct Mail {
    const char* from;
    const char* subject;
    const char* body;
};

const Mail kReceived[] = {
    {"山田 太郎 <taro.yamada@example.co.jp>", "来週の打ち合わせについて",
     "お疲れさまです。山田です。\n\n来週火曜の打ち合わせは、十時から第二会議室で行います。\n資料は前日までにお送りします。\n"},
    {"山本 花子 <hanako@example.jp>", "週末のお誘い", "こんにちは。\n\n土曜日、よかったら映画に行きませんか？\n"},
    {"Amazing Deals <win@prize-center.example>", "【当選】おめでとうございます！賞金100万円",
     "おめでとうございます！\n\nあなたは厳正なる抽選の結果、賞金100万円に当選しました。\n"
     "今すぐ下記のリンクから受け取り手続きをして下さい。\n"},
};

const Mail kJunk[] = {
    {"Security Center <no-reply@account-check.example>", "【重要】お客様のアカウントが停止されました",
     "お客様のアカウントに不正なアクセスがありました。\n\n24時間以内に下記よりログインし、情報を更新して下さい。\n"
     "更新されない場合、アカウントは削除されます。\n"},
    {"Fortune Club <club@lucky-money.example>", "毎日３万円が届く秘密の方法",
     "誰でも簡単に、毎日３万円。\n\n今だけ無料で方法をお教えします。\n"},
};

QByteArray source(const Mail& mail, int minute) {
    const auto encoded = [](const char* text) { return "=?UTF-8?B?" + QByteArray(text).toBase64() + "?="; };
    QByteArray from(mail.from);
    const qsizetype angle = from.indexOf('<');
    const QByteArray fromField = angle > 0 ? encoded(from.left(angle - 1).constData()) + ' ' + from.mid(angle) : from;
    QByteArray body(mail.body);
    body.replace("\n", "\r\n");
    return "From: " + fromField + "\r\nTo: bob@example.jp\r\nSubject: " + encoded(mail.subject) +
           "\r\nDate: Thu, 10 Dec 2026 09:" + QByteArray::number(10 + minute) +
           ":00 +0900\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
           "Content-Transfer-Encoding: 8bit\r\n\r\n" +
           body;
}

// The message's copy in the received Maildir and its record in history;
// false when either could not be written (a picture without them shows
// nothing worth saving).
bool Store(const Program& program, History history, const Mail& mail, int minute) {
    const QByteArray message = source(mail, minute);
    const auto maildir = MaildirFolders::Open(ReceivedMaildirPath(program.paths));
    return maildir && maildir.value().deliver(MaildirLocalForm(message), QString(), MaildirFlush::Now) &&
           AppendRecord(HistoryPath(program.paths, history), mail::ReceivedRecordOf(message), history);
}

bool Settle(const TyakuForm& form) {
    const bool settled = QTest::qWaitFor([&] { return !form.ReadingPending(); }, 20000);
    QTest::qWait(600);
    return settled;
}

bool Save(const QWidget& window, const QString& out, const char* name) {
    const QRect area = window.frameGeometry().adjusted(-2, -2, 2, 2);
    const QString file = out + u'/' + QLatin1String(name) + QStringLiteral(".png");
    const bool saved =
        QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(file);
    std::printf("%s\n", qPrintable(file));
    return saved;
}

void ShowRow(TyakuForm& form, int row) {
    QTreeView* list = form.MailListView;
    const QRect cell = list->visualRect(form.listModel().index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: junk_view_screens OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    NMailInitializeWinSock();
    QTemporaryDir home;
    Program program{ProgramPaths(home.path())};
    if (!program.paths.createFolders()) return 1;
    int minute = 0;
    bool stored = true;
    for (const Mail& mail : kReceived) stored = Store(program, History::Received, mail, minute++) && stored;
    for (const Mail& mail : kJunk) stored = Store(program, History::Junk, mail, minute++) && stored;
    if (!stored) {
        std::fprintf(stderr, "junk_view_screens: cannot write the histories or their copies\n");
        return 1;
    }
    program.receive.JunkFilter = true;

    FakeWindows windows(program);
    bool saved = true;
    {
        TyakuForm form(windows);
        form.Form_Load();
        form.move(40, 40);
        form.show();
        (void)QTest::qWaitForWindowExposed(&form);
        form.LoadHistory(History::Received);
        // The prize mail the filter let through, shown, before 迷惑メール.
        Settle(form);
        saved = Save(form, out, "junk_button") && saved;

        form.JunkList_Click();
        Settle(form);
        ShowRow(form, 0);
        Settle(form);
        saved = Save(form, out, "junk_view") && saved;
    }
    NMailEndWinSock();
    return saved ? 0 : 1;
}
