// What the history viewer costs through the clicks a user makes, with the
// messages read whole from their Maildir copies. Not a test: it prints the
// figures. Run by scripts/benchmark_viewer.sh after viewer_benchmark.
//   viewer_click_benchmark [rounds]   (default 5)
//
// The received history is full (32,766 records, about 400 MB); its last
// three records are real messages stored as a mail check stores them (the
// record appended, the source delivered into the received Maildir): a
// newsletter of 100 KB of HTML, a message with a 25 MB attachment, and a
// short text message, the last. Everything is warm: each figure is taken
// after an untimed first run (the listing beside the history made, the
// copies paired and their pairing kept beside the history, the files in
// the page cache).
//
// Goals, each printed beside the record alone measured the same way in the
// same run:
//   1. the newsletter's row clicked: from the mouse release until the copy
//      is read, its HTML set in the view and painted, and its text on the
//      clipboard, under 50 ms;
//   2. the attachment's row clicked: until the text is shown, the strip
//      lists the attachment and the view is painted, under 150 ms;
//   3. 着信履歴 clicked on the main window: until the viewer is made, shown,
//      listed and painted and the last message is on the clipboard, under
//      150 ms; also until the last message's copy is read and shown.
// Then the same opening step by step, to show where the time goes.

#include "app/MainForm.h"
#include "app/program_windows.h"
#include "core/program.h"
#include "mail/mail_export.h"
#include "mail/mail_library.h"
#include "mail/mime/html_sanitizer.h"
#include "mail/mime/message_view.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "tests/support/history_bench.h"
#include "ui/hot_spot_label.h"
#include "viewer/TyakuForm.h"
#include "viewer/copy_reader.h"
#include "viewer/history_view.h"
#include "viewer/message_pane.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextDocument>
#include <QThread>
#include <QThreadPool>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace lumopet;
using namespace lumopet::bench;

// ---- The messages --------------------------------------------------------------------

QByteArray base64Lines(const QByteArray& content) {
    const QByteArray encoded = content.toBase64();
    QByteArray lines;
    lines.reserve(encoded.size() + encoded.size() / 76 * 2 + 2);
    for (qsizetype at = 0; at < encoded.size(); at += 76) lines += encoded.mid(at, 76) + "\r\n";
    return lines;
}

QByteArray header(const QByteArray& subject, const QByteArray& from, const QByteArray& type) {
    return "From: " + from + "\r\nTo: bob@example.jp\r\nSubject: =?UTF-8?B?" + subject.toBase64() +
           "?=\r\nDate: Thu, 10 Dec 2026 09:30:00 +0900\r\nMessage-ID: <" + subject.toHex().left(24) +
           "@example.com>\r\nMIME-Version: 1.0\r\nContent-Type: " + type + "\r\n\r\n";
}

// A newsletter as shops send them: a layout of nested tables with inline
// styles, 74 articles of a picture, a heading, paragraphs and links
// with tracking parameters, and a footer; 100 KB of HTML beside its plain
// text.
QByteArray newsletter() {
    QByteArray html =
        "<!DOCTYPE html><html><head><meta charset=\"UTF-8\"><title>週刊ニュースレター</title>"
        "<style>body{margin:0;background:#f4f4f4}td{font-family:sans-serif}.btn{background:#e60012;color:#fff}</style>"
        "</head><body><table width=\"100%\" cellpadding=\"0\" cellspacing=\"0\" style=\"background:#f4f4f4\"><tr><td "
        "align=\"center\"><table width=\"640\" cellpadding=\"0\" cellspacing=\"0\" style=\"background:#ffffff\">"
        "<tr><td style=\"padding:16px\"><img src=\"https://news.example.com/img/logo.png\" width=\"200\" "
        "height=\"48\" alt=\"ロゴ\"></td></tr>";
    QByteArray text = "週刊ニュースレター\n\n";
    for (int n = 1; html.size() < 100 * 1024 - 600; ++n) {
        const QByteArray number = QByteArray::number(n);
        const QByteArray link = "https://news.example.com/article/" + number +
                                "?utm_source=newsletter&amp;utm_medium=email&amp;utm_campaign=weekly_2026_50";
        html += "<tr><td style=\"padding:12px 16px;border-top:1px solid #dddddd\"><table width=\"100%\" "
                "cellpadding=\"0\" cellspacing=\"0\"><tr><td width=\"160\" valign=\"top\"><a href=\"" + link +
                "\"><img src=\"https://img.example.com/articles/" + number +
                ".jpg\" width=\"150\" height=\"100\" alt=\"記事" + number +
                "\" style=\"display:block;border:0\"></a></td><td valign=\"top\" style=\"padding-left:12px\">"
                "<h2 style=\"font-size:18px;margin:0 0 8px 0;color:#333333\">第" + number +
                "回 冬のおすすめ特集 – 今だけの限定セール</h2><p style=\"font-size:14px;line-height:1.6;"
                "color:#555555\">いつもご利用いただき誠にありがとうございます。今週は寒い季節にぴったりの商品を"
                "ご紹介します。数量限定のため、お早めにお求めください。</p><p style=\"font-size:14px;"
                "line-height:1.6;color:#555555\">送料無料キャンペーンは12月20日まで。詳しくは<a href=\"" + link +
                "\" style=\"color:#0066cc\">こちら</a>をご覧ください。</p><a class=\"btn\" href=\"" + link +
                "\" style=\"display:inline-block;padding:8px 16px;text-decoration:none\">続きを読む &raquo;</a>"
                "</td></tr></table></td></tr>";
        text += "第" + number + "回 冬のおすすめ特集 – 今だけの限定セール\n"
                "いつもご利用いただき誠にありがとうございます。今週は寒い季節にぴったりの商品をご紹介します。\n"
                "https://news.example.com/article/" + number + "\n\n";
    }
    html += "<tr><td style=\"padding:16px;font-size:12px;color:#999999\">配信停止は<a "
            "href=\"https://news.example.com/unsubscribe?id=12345\">こちら</a>。&copy; 2026 Example "
            "Shop</td></tr></table></td></tr></table><img src=\"https://news.example.com/open.gif?id=12345\" "
            "width=\"1\" height=\"1\"></body></html>";
    return header("【週刊】冬のおすすめ特集", "Example Shop <news@example.com>",
                  "multipart/alternative; boundary=\"alt\"") +
           "--alt\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
           base64Lines(text) + "--alt\r\nContent-Type: text/html; charset=UTF-8\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(html) + "--alt--\r\n";
}

// A short letter with a 25 MB file attached (of bytes that do not compress).
QByteArray withAttachment() {
    QByteArray file(25 * 1024 * 1024, Qt::Uninitialized);
    quint64 state = 88172645463325252ULL;
    for (char& byte : file) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state);
    }
    return header("資料をお送りします", "佐藤 <sato@example.jp>", "multipart/mixed; boundary=\"mix\"") +
           "--mix\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
           "お世話になっております。\r\n打ち合わせの資料を添付いたします。\r\nご確認ください。\r\n"
           "--mix\r\nContent-Type: application/pdf; name=\"資料.pdf\"\r\n"
           "Content-Disposition: attachment; filename*=UTF-8''%E8%B3%87%E6%96%99.pdf\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(file) + "--mix--\r\n";
}

QByteArray shortLetter() {
    return header("明日の件", "山田 花子 <hanako@example.jp>", "text/plain; charset=UTF-8") +
           "お疲れさまです。\r\n明日の打ち合わせは10時からでお願いします。\r\n";
}

// As a mail check stores a message: its record, then its copy.
void receive(const Program& program, const QByteArray& source) {
    if (!AppendRecord(HistoryPath(program.paths, History::Received), mail::ReceivedRecordOf(source),
                      History::Received))
        fail("cannot append a record");
    const auto maildir = MaildirFolders::Open(ReceivedMaildirPath(program.paths));
    if (!maildir || !maildir.value().deliver(MaildirLocalForm(source), QString(), MaildirFlush::Now))
        fail("cannot deliver a copy");
}

// ---- Timing --------------------------------------------------------------------------

// Waits in the event loop (no spinning: the worker needs the other core)
// until the reading and the pairing are done.
void waitForReading(const TyakuForm& form) {
    while (form.ReadingPending()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

QString clipboardText() { return QGuiApplication::clipboard()->text(); }

// Row `row` chosen by a click, timed from the release of the button until
// the copy (if any) is read and shown, the message area painted and the
// clipboard holding what the user reads.
// When the worker's reading last reached the window's thread (before the
// window takes it): a click's time splits there into the reading and the
// window's part.
double readingArrivedAt = 0;
void noteReadingArrivals(TyakuForm& form) {
    auto* reader = form.findChild<CopyReader*>();
    if (!reader) fail("the viewer has no copy reader");
    // Connected first, so called before the window's own slot.
    QObject::connect(reader, &CopyReader::messageRead, reader, [] { readingArrivedAt = now(); });
}
std::vector<double> windowPartOfHtml, windowPartOfAttachment;

// What a clicked row shows.
enum class Shows { Record, Html, Attachment };

double timeRowClick(TyakuForm& form, int row, Shows shows) {
    const bool readsCopy = shows != Shows::Record;
    QTreeView* list = form.MailListView;
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    QCoreApplication::processEvents();
    const QPoint at = list->visualRect(index).center();
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
    const double start = now();
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    // The reading taken in, then a paint forced: what the window does
    // later on its own (the hidden text box of an HTML message filled a
    // moment afterwards) is not what the user waits for.
    if (readsCopy) waitForReading(form);
    QWidget* area = form.htmlView->isVisible() ? static_cast<QWidget*>(form.htmlView) : form.rtfEd;
    area->repaint();
    if (form.attachmentStrip->isVisible()) form.attachmentStrip->repaint();
    const QString clipboard = clipboardText();
    const double end = now();
    const double seconds = end - start;
    if (shows == Shows::Html) windowPartOfHtml.push_back(end - readingArrivedAt);
    if (shows == Shows::Attachment) windowPartOfAttachment.push_back(end - readingArrivedAt);
    if (form.ChosenRecord() != row + 1) fail("the click chose another row");
    if (readsCopy && (!form.shownMessage() || clipboard != form.shownMessage()->text))
        fail("the copy was not read, or its text is not on the clipboard");
    if (clipboard.isEmpty()) fail("the clipboard is empty");
    if (shows == Shows::Html && (!form.htmlView->isVisible() || form.htmlView->document()->isEmpty() ||
                                 form.shownMessage()->remoteImages.isEmpty()))
        fail("the newsletter's HTML is not shown, or its remote pictures were not held back");
    if (shows == Shows::Attachment && (form.attachmentStrip->count() != 1 || !form.attachmentStrip->isVisible()))
        fail("the strip does not list the attachment");
    return seconds;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
double best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

void print(const char* what, const std::vector<double>& v, const char* goal = "") {
    std::printf("%-62s best %6.1f ms, median %6.1f ms%s\n", what, best(v) * 1e3, median(v) * 1e3, goal);
}

// The viewer of the program's windows, when it is open.
TyakuForm* openViewer() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* viewer = qobject_cast<TyakuForm*>(window); viewer && viewer->isVisible()) return viewer;
    return nullptr;
}

void closeViewer() {
    if (TyakuForm* viewer = openViewer()) viewer->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    if (openViewer()) fail("the viewer did not close");
}

struct Opening {
    double listed;  // the list painted, the last record on the clipboard
    double read;    // and the last message's copy read and shown
};

// 着信履歴 clicked on the main window (the viewer closed before, as a user
// closes it), timed from the release of the button.
Opening timeHistoryClick(MainForm& main, const QString& lastRecordText, const QString& lastCopyText) {
    closeViewer();
    const QPoint at = main.Label7->rect().center();
    QTest::mousePress(main.Label7, Qt::LeftButton, {}, at);
    const double start = now();
    QTest::mouseRelease(main.Label7, Qt::LeftButton, {}, at);
    TyakuForm* viewer = openViewer();
    if (!viewer) fail("the click opened no viewer");
    noteReadingArrivals(*viewer);
    QCoreApplication::processEvents();
    viewer->repaint();
    const QString listedClipboard = clipboardText();
    const double listed = now() - start;
    waitForReading(*viewer);
    QCoreApplication::processEvents();
    viewer->repaint();
    const QString readClipboard = clipboardText();
    const double read = now() - start;
    if (viewer->Text2->text().toInt() != kRecords) fail("the list came back short");
    if (listedClipboard != lastRecordText && listedClipboard != lastCopyText)
        fail("the last message was not on the clipboard once listed");
    if (readClipboard != lastCopyText) fail("the last message's copy was not on the clipboard");
    return {listed, read};
}

// The same opening made step by step, as ProgramWindows makes it, each
// step timed on its own.
std::map<std::string, double> timeOpeningSteps(ProgramWindows& windows) {
    closeViewer();
    std::map<std::string, double> steps;
    double at = now();
    const auto step = [&](const char* name) {
        const double t = now();
        steps[name] = t - at;
        at = t;
    };
    auto* viewer = new TyakuForm(windows);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    step("1 window made (constructor)");
    viewer->Form_Load();
    step("2 Form_Load");
    viewer->show();
    step("3 show");
    viewer->LoadHistory(History::Received);
    step("4 LoadHistory (list filled, last record shown)");
    QCoreApplication::processEvents();
    step("5 events after it (layout, first paint)");
    viewer->repaint();
    step("6 a second paint of the whole window");
    waitForReading(*viewer);
    QCoreApplication::processEvents();
    step("7 pairing and the last copy read and shown");
    viewer->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return steps;
}

// The copy of a message in the received Maildir, known by its size.
QString copyPath(const Program& program, qint64 size) {
    QDirIterator files(ReceivedMaildirPath(program.paths), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (QFileInfo(path).size() == size) return path;
    }
    fail("cannot find a message's copy");
}

// What showing the newsletter is made of, each step on its own on this
// thread: the copy decoded, its HTML made safe, the rest of the reading,
// the HTML set into a view of the viewer's size, the document laid out,
// and the view painted.
std::map<std::string, double> timeNewsletterSteps(const QString& path, const TyakuForm& form) {
    std::map<std::string, double> steps;
    double at = now();
    const auto step = [&](const char* name) {
        const double t = now();
        steps[name] = t - at;
        at = t;
    };
    const mail::ViewedMessage message = mail::ViewMessageFile(path);
    step("a copy decoded (ViewMessageFile)");
    const mail::SanitizedHtml safe = mail::SanitizeHtml(message.html);
    step("b HTML made safe (SanitizeHtml)");
    MessageReading request;
    request.copyPath = path;
    request.preferHtml = true;
    request.font = form.rtfEd->font();
    request.documentThread = QThread::currentThread();
    const ShownMessage shown = ReadShownMessage(request);
    step("c the whole reading again (ReadShownMessage = a + b + rest)");
    // The same on a thread of the pool, as the window has it read.
    QThreadPool::globalInstance()->start([request] { ReadShownMessage(request); });
    QThreadPool::globalInstance()->waitForDone();
    step("c2 the same on a worker, started and waited for");
    HtmlMessageView view;
    view.resize(form.htmlView->size());
    view.setFont(form.htmlView->font());
    view.show();
    QCoreApplication::processEvents();
    at = now();
    view.document()->setDefaultFont(form.rtfEd->font());
    view.document()->setHtml(shown.html);
    step("d setHtml");
    view.document()->documentLayout()->documentSize();
    step("e the document laid out");
    view.viewport()->repaint();
    step("f the view painted");
    view.viewport()->repaint();
    step("g painted again");
    return steps;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    programName = "viewer_click_benchmark";
    const int rounds = std::max(1, argc > 1 ? std::atoi(argv[1]) : 5);
    // As the program starts: the mail layer (GMime) set up once.
    if (NMailInitializeWinSock() != 0) fail("cannot start the mail layer");

    char folderName[] = "/tmp/lumopet-viewer-click-XXXXXX";
    if (!::mkdtemp(folderName)) fail("cannot make a temporary folder");
    scratchFolder = QString::fromLocal8Bit(folderName);
    Program program{ProgramPaths(scratchFolder)};
    if (!program.paths.createFolders()) fail("cannot make the data folder");
    const QString file = HistoryPath(program.paths, History::Received);

    double start = now();
    writeHistory(file);
    // Room for the three real messages at the end.
    if (!QFile::resize(file, static_cast<qint64>(kRecords - 3) * kHistoryRecordSize)) fail("cannot cut the history");
    const QByteArray letter = newsletter();
    receive(program, letter);
    receive(program, withAttachment());
    receive(program, shortLetter());
    std::printf("history of %d records, %.1f MB, written in %.2f s; newsletter %.1f KB\n", kRecords,
                static_cast<double>(QFile(file).size()) / 1e6, now() - start, static_cast<double>(letter.size()) / 1024);
    const int newsletterRow = kRecords - 3, attachmentRow = kRecords - 2, plainRow = kRecords - 4;

    ProgramWindows windows(program);
    MainForm& main = windows.mainForm();
    main.Form_Load();
    main.show();
    if (!QTest::qWaitForWindowExposed(&main)) fail("the main window did not show");

    // The untimed first opening: the listing and the pairing are made and
    // kept beside the history, and every file is in the page cache.
    warmUp(file);
    main.Label7_Click();
    TyakuForm* first = openViewer();
    if (!first) fail("the viewer did not open");
    waitForReading(*first);
    if (!first->shownMessage()) fail("the last message's copy was not found");
    const QString lastCopyText = first->shownMessage()->text;
    // 表示 → HTML, as a reader of newsletters sets it (kept in lumopet.ini
    // for every viewer made afterwards).
    first->SetShowHtml(true);
    const Result<HistoryRecord> lastRecord = ReadRecord(file, kRecords);
    if (!lastRecord) fail("cannot read the last record");
    // What the clipboard holds once the record alone is shown.
    first->ShowMessageText(lastRecord.value().Body);
    const QString recordClipboard = clipboardText();
    QThreadPool::globalInstance()->waitForDone();

    std::vector<double> html, attachment, record, htmlRecord, listed, read, logic;
    std::map<std::string, std::vector<double>> steps, newsletterSteps;
    const QString newsletterCopy = copyPath(program, MaildirLocalForm(letter).size());
    for (int round = 0; round < rounds + 1; ++round) {
        const bool timed = round > 0;  // the first round warms the clicks too
        Opening opening = timeHistoryClick(main, recordClipboard, lastCopyText);
        TyakuForm& viewer = *openViewer();
        // Between two clicks on the same row, another row: each click shows
        // its message afresh.
        // Another message between the two, so that the attachment's row
        // follows a message without HTML, and the window gives up the
        // newsletter's document as a user's next click makes it.
        const double r = timeRowClick(viewer, plainRow, Shows::Record);
        const double h = timeRowClick(viewer, newsletterRow, Shows::Html);
        timeRowClick(viewer, plainRow, Shows::Record);
        const double a = timeRowClick(viewer, attachmentRow, Shows::Attachment);
        const double logicStart = now();
        if (!ReadHistoryView(file)) fail("cannot read the history view");
        const double l = now() - logicStart;
        const auto shownSteps = timeNewsletterSteps(newsletterCopy, viewer);
        const auto opened = timeOpeningSteps(windows);
        if (!timed) continue;
        listed.push_back(opening.listed);
        read.push_back(opening.read);
        record.push_back(r);
        html.push_back(h);
        attachment.push_back(a);
        logic.push_back(l);
        for (const auto& [name, seconds] : opened) steps[name].push_back(seconds);
        for (const auto& [name, seconds] : shownSteps) newsletterSteps[name].push_back(seconds);
        if (std::getenv("VIEWER_BENCHMARK_VERBOSE"))
            std::printf("round %d: 着信履歴 %.1f / %.1f ms, record %.1f ms, newsletter %.1f ms, attachment %.1f ms\n",
                        round, opening.listed * 1e3, opening.read * 1e3, r * 1e3, h * 1e3, a * 1e3);
    }

    std::printf("warm, %d rounds\n", rounds);
    print("a row clicked, the record alone shown (no copy):", record);
    print("1. newsletter row clicked, HTML read, set, painted, clipboard:", html, "  (goal: under 50 ms)");
    print("   of which from the reading's arrival to the view painted:", windowPartOfHtml);
    print("2. 25 MB attachment row clicked, text and strip shown:", attachment, "  (goal: under 150 ms)");
    print("   of which from the reading's arrival to the view painted:", windowPartOfAttachment);
    print("3. 着信履歴 clicked: made, listed, painted, last record copied:", listed, "  (goal: under 150 ms)");
    print("   and the last message read from its copy and shown:", read);
    print("   the listing logic alone (ReadHistoryView):", logic);
    std::printf("the newsletter step by step:\n");
    for (const auto& [name, seconds] : newsletterSteps) print(("   " + name).c_str(), seconds);
    std::printf("the opening step by step:\n");
    for (const auto& [name, seconds] : steps) print(("   " + name).c_str(), seconds);

    closeViewer();
    main.hide();
    if (!QDir(scratchFolder).removeRecursively()) fail("cannot remove the temporary folder");
    return 0;
}
