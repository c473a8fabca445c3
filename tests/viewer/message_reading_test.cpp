// The viewer showing a received message whole from its Maildir copy,
// offscreen: the whole text and every character, HTML formatted with
// nothing fetched until the user asks (a local HTTP server counts), inline
// pictures, the attachment strip opening and saving through test hooks,
// the charset chosen by hand, the header and source windows, and hostile
// names and HTML that must neither stall the window nor write outside.

#include "core/unique_fd.h"
#include "mail/mail_export.h"
#include "mail/mail_library.h"
#include "mail/message_builder.h"
#include "mail/send_mail.h"
#include "core/clock_text.h"
#include "store/maildir.h"
#include "tests/viewer/viewer_window_test.h"
#include "ui/file_dialog.h"
#include "viewer/copy_search_texts.h"
#include "viewer/message_pane.h"
#include "viewer/search_text.h"
#include "viewer/message_text_window.h"

#include <QBuffer>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextDocument>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>

namespace lumopet {
namespace {

QByteArray pngBytes(QColor colour) {
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A web server that counts what it is asked and answers every request with
// a small picture.
class CountingWebServer : public QObject {
public:
    CountingWebServer() {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    if (!socket->readAll().contains("\r\n\r\n")) return;
                    const QByteArray body = pngBytes(Qt::red);
                    socket->write("HTTP/1.0 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                                  QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QString url(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(server_.serverPort()).arg(QLatin1String(path));
    }
    int connections = 0;

private:
    QTcpServer server_;
};

QByteArray crlf(QByteArray text) { return text.replace("\r\n", "\n").replace("\n", "\r\n"); }

QByteArray plainMessage(const QByteArray& subject, const QByteArray& body, const QByteArray& charset = "UTF-8",
                        const QByteArray& encoding = "8bit") {
    return crlf("From: =?UTF-8?B?" + QByteArray("送り主").toBase64() + "?= <from@example.jp>\n"
                "To: bob@example.jp\nSubject: " + subject + "\nDate: Thu, 10 Dec 2026 09:30:00 +0900\n"
                "MIME-Version: 1.0\nContent-Type: text/plain; charset=" + charset + "\n"
                "Content-Transfer-Encoding: " + encoding + "\n\n") + body;
}

QByteArray utf8Subject(const QString& text) { return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?="; }

QByteArray withParts(const QByteArray& subject, const QByteArray& type, const QList<QByteArray>& parts) {
    QByteArray message = crlf("From: news@example.com\nTo: bob@example.jp\nSubject: " + subject +
                              "\nDate: Thu, 10 Dec 2026 09:30:00 +0900\nMIME-Version: 1.0\n"
                              "Content-Type: " + type + "; boundary=\"b0\"\n\n");
    for (const QByteArray& part : parts) message += "--b0\r\n" + crlf(part) + "\r\n";
    return message + "--b0--\r\n";
}

QByteArray attachmentPart(const QByteArray& name, const QByteArray& type, const QByteArray& content) {
    return "Content-Type: " + type + "\nContent-Disposition: attachment; filename*=UTF-8''" +
           QUrl::toPercentEncoding(QString::fromUtf8(name)) + "\nContent-Transfer-Encoding: base64\n\n" +
           content.toBase64() + "\n";
}

const QByteArray kTextPart = "Content-Type: text/plain; charset=UTF-8\n\n添付を送ります。\n";

class MessageReadingTest : public test::ViewerWindowTest {
protected:
    void TearDown() override {
        SetSaveFileChooser({});
        ViewerWindowTest::TearDown();
    }
    // The message as a mail check stores it: its record, and its source in
    // the received Maildir.
    void receive(const QByteArray& source) {
        const auto maildir = MaildirFolders::Open(ReceivedMaildirPath(program.paths));
        ASSERT_TRUE(maildir.ok());
        const auto copy = maildir.value().deliver(MaildirLocalForm(source), QString(), MaildirFlush::Now);
        ASSERT_TRUE(copy.ok());
        // A large message the check decodes from the file it spooled.
        HistoryRecord record;
        if (source.size() > kSpooledFromBytes) {
            const UniqueFd fd(::open(QFile::encodeName(copy.value()).constData(), O_RDONLY | O_CLOEXEC));
            record = mail::ReceivedRecordOf(mail::DecodeMessageFile(fd.get()));
        } else {
            record = mail::ReceivedRecordOf(source);
        }
        ASSERT_TRUE(AppendRecord(file(History::Received), record, History::Received).ok());
    }
    // Opens the received history and waits until the last message's copy
    // is shown.
    void openAndRead() {
        open(History::Received);
        settle();
        form->setOpenFunction([this](const QUrl& url, const QString& type) {
            opened.push_back({url, type});
            return true;
        });
    }
    void settle() {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !form->ReadingPending(); }, 10000));
        // What the window puts off for a moment after the message came.
        QCoreApplication::processEvents();
    }
    void showRow(int row) {
        clickRow(row);
        settle();
    }
    QString shownText() const { return form->rtfEd->toPlainText(); }
    QTextDocument* document() const { return form->htmlView->document(); }

    struct Opened {
        QUrl url;
        QString type;
    };
    std::vector<Opened> opened;
};

// ---- The whole text, in every script ------------------------------------------------

struct TextCase {
    const char* name;
    QByteArray source;
    QString subject;
    QString body;  // what the text box shows (LF)
};

class WholeTextTest : public MessageReadingTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(WholeTextTest, ShownAndOnTheClipboardAsSent) {
    const TextCase& c = GetParam();
    receive(c.source);
    openAndRead();
    ASSERT_NE(form->shownMessage(), nullptr) << "the copy was read";
    EXPECT_EQ(form->Text7->text(), c.subject);
    EXPECT_EQ(form->MailListView->model()->index(0, 0).data().toString(), c.subject) << "the row too";
    EXPECT_EQ(shownText(), c.body);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), c.body);
    // 返事を出す takes what is shown, not the record's CP932 text.
    clickRow(0);
    settle();
    form->Command4_Click();
    EXPECT_EQ(windows.lastReply.body, c.body);
}

QString longBody() {
    QString body;
    for (int line = 1; body.toUtf8().size() < 40000; ++line) body += QStringLiteral("%1 行目：長いお便りの続きです。\n").arg(line);
    return body + QStringLiteral("最後の行");
}

const QString kWorld = QStringLiteral("週末の写真 🍣 한국어 简体字 café");

INSTANTIATE_TEST_SUITE_P(
    Texts, WholeTextTest,
    ::testing::Values(
        TextCase{"FortyThousandBytes", plainMessage(utf8Subject(QStringLiteral("長いお便り")), longBody().toUtf8()),
                 QStringLiteral("長いお便り"), longBody()},
        TextCase{"EmojiHangulChineseAccents", plainMessage(utf8Subject(kWorld), (kWorld + QStringLiteral("\nです")).toUtf8()),
                 kWorld, kWorld + QStringLiteral("\nです")},
        // ① ㈱ in JIS row 13, and 1-33 as Windows meant it (its table's
        // fullwidth tilde).
        TextCase{"WindowsIso2022Jp",
                 plainMessage("=?ISO-2022-JP?B?GyRCLSEtajt6GyhC?=", "\x1b$B-!-j!A%F%9%H\x1b(B\r\n", "ISO-2022-JP", "7bit"),
                 QStringLiteral("①㈱字"), QStringLiteral("①㈱～テスト\n")},
        // The wave dash, which the record's code page turns into that tilde.
        TextCase{"WaveDash", plainMessage(utf8Subject(QStringLiteral("〜まで")), QStringLiteral("9時〜17時").toUtf8()),
                 QStringLiteral("〜まで"), QStringLiteral("9時〜17時")}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The search finds what only the copy holds ------------------------------------------

struct CopySearchCase {
    const char* name;
    QString query;
    QStringList found;  // subjects of the rows left
};

class CopySearchTest : public MessageReadingTest, public ::testing::WithParamInterface<CopySearchCase> {};

TEST_P(CopySearchTest, TheRowsLeftAreThoseWhoseCopiesHoldTheQuery) {
    const CopySearchCase& c = GetParam();
    receive(plainMessage("sushi", QStringLiteral("夕食は🍣でした").toUtf8()));
    receive(plainMessage("cafe", QStringLiteral("rendez-vous au café").toUtf8()));
    QString longText;
    while (longText.toUtf8().size() < 20000) longText += QStringLiteral("前置きが続きます。\n");
    receive(plainMessage("long", (longText + QStringLiteral("最後に合言葉はあじさい")).toUtf8()));
    receive(plainMessage("plain", "nothing special"));
    openAndRead();
    form->SearchBox->setText(c.query);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !form->SearchPending(); }, 10000));
    QStringList subjects;
    for (int row = 0; row < form->MailListView->model()->rowCount(); ++row)
        subjects << form->MailListView->model()->index(row, 0).data().toString();
    EXPECT_EQ(subjects, c.found);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, CopySearchTest,
    ::testing::Values(CopySearchCase{"Emoji", QStringLiteral("🍣"), {"sushi"}},
                      CopySearchCase{"Accent", QStringLiteral("café"), {"cafe"}},
                      CopySearchCase{"PastTheRecord", QStringLiteral("あじさい"), {"long"}},
                      // What the record holds is found as before, once.
                      CopySearchCase{"InTheRecord", QStringLiteral("夕食"), {"sushi"}},
                      CopySearchCase{"Nowhere", QStringLiteral("🍜"), {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A measurement, not a test (--gtest_also_run_disabled_tests): what the
// search of the copies adds for 10,000 messages whose records could not
// hold them, 10,000 characters each, the file in the page cache.
TEST(CopySearchTiming, DISABLED_TenThousandMessagesOfTenThousandCharacters) {
    const test::TempFolder folder;
    const QString path = folder.path(QStringLiteral("srndata2.data.texts"));
    std::vector<CopySearchEntry> entries;
    std::vector<QByteArray> fingerprints;
    QString text;
    while (text.size() < 10000) text += QStringLiteral("週末のお知らせ 🍣 sale café ");
    for (int i = 0; i < 10000; ++i) {
        const QByteArray fingerprint = QByteArray::number(0x1000000000000000LL + i, 16);
        entries.push_back({fingerprint, SearchForm(text + QString::number(i))});
        fingerprints.push_back(fingerprint);
    }
    ASSERT_TRUE(WriteCopySearchTexts(path, entries, true).ok());
    const std::atomic<bool> never{false};
    RecordsFoundInCopies(path, SearchForm(QStringLiteral("あじさい")), fingerprints, never);  // warm
    for (const QString& query : {QStringLiteral("あじさい"), QStringLiteral("9999")}) {
        QElapsedTimer timer;
        timer.start();
        const std::vector<int> found = RecordsFoundInCopies(path, SearchForm(query), fingerprints, never);
        std::printf("[ timing ] %s: %lld ms, %zu found, file %lld MB\n", qPrintable(query),
                    static_cast<long long>(timer.elapsed()), found.size(),
                    static_cast<long long>(QFileInfo(path).size() >> 20));
    }
}

// ---- HTML ----------------------------------------------------------------------------

TEST_F(MessageReadingTest, ANewsletterIsFormattedAndFetchesNothingUntilAsked) {
    CountingWebServer web;
    const QByteArray html = "<html><head><script>document.write('x')</script>"
                            "<meta http-equiv=refresh content=\"0;url=" + web.url("refresh").toUtf8() + "\">"
                            "<link rel=stylesheet href=\"" + web.url("style.css").toUtf8() + "\"></head>"
                            "<body onload=\"alert(1)\"><h1>今月のお知らせ</h1><p>いつもありがとうございます。</p>"
                            "<ul><li>新商品</li><li>セール</li></ul>"
                            "<table><tr><td>品名</td><td>価格</td></tr><tr><td>りんご</td><td>100円</td></tr></table>"
                            "<img src=\"" + web.url("track.png").toUtf8() + "\" width=1 height=1>"
                            "<iframe src=\"" + web.url("frame").toUtf8() + "\"></iframe>"
                            "<p style=\"background:url(" + web.url("bg.png").toUtf8() + ")\">"
                            "<a href=\"https://shop.example.com/\">お店へ</a></p></body></html>";
    receive(withParts("News", "multipart/alternative",
                      {"Content-Type: text/html; charset=UTF-8\n\n" + html}));
    openAndRead();
    QTest::qWait(300);

    EXPECT_TRUE(form->htmlView->isVisible());
    EXPECT_FALSE(form->rtfEd->isVisible());
    const QString shown = document()->toPlainText();
    for (const char* piece : {"今月のお知らせ", "新商品", "品名", "りんご", "100円", "お店へ"})
        EXPECT_TRUE(shown.contains(QString::fromUtf8(piece))) << piece;
    EXPECT_FALSE(document()->toHtml().contains(QStringLiteral("<script")));
    EXPECT_EQ(web.connections, 0) << "nothing is fetched for showing a message";
    ASSERT_TRUE(form->notesBar->isVisible());
    EXPECT_TRUE(form->notesBar->label()->text().contains(QStringLiteral("1 件")));
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(QStringLiteral("りんご")));
    EXPECT_FALSE(QGuiApplication::clipboard()->text().contains(u'<'));

    QTest::mouseClick(form->notesBar->loadImagesButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return web.connections == 1; }, 10000));
    QTest::qWait(300);
    EXPECT_EQ(web.connections, 1) << "the picture alone, not the frame, the style sheet or the refresh";
}

TEST_F(MessageReadingTest, TheTextAlternativeUnlessHtmlIsChosenAndRemembered) {
    receive(withParts("Both", "multipart/alternative",
                      {"Content-Type: text/plain; charset=UTF-8\n\nテキストの版\n",
                       "Content-Type: text/html; charset=UTF-8\n\n<p><b>HTMLの版</b></p>\n"}));
    openAndRead();
    EXPECT_EQ(shownText(), QStringLiteral("テキストの版\n"));
    EXPECT_FALSE(form->htmlView->isVisible());

    form->mhtml->trigger();
    settle();
    EXPECT_TRUE(form->htmlView->isVisible());
    EXPECT_TRUE(document()->toPlainText().contains(QStringLiteral("HTMLの版")));
    const auto ini = ReadViewerOptions(program.paths.path(files::ProgramOptions));
    ASSERT_TRUE(ini.ok());
    EXPECT_TRUE(ini.value().ShowHtml);
}

TEST_F(MessageReadingTest, InlinePicturesComeFromTheMessageAndAPartThatIsNoPictureIsSaid) {
    const QByteArray png = pngBytes(Qt::blue);
    receive(withParts("Inline", "multipart/related",
                      {"Content-Type: text/html; charset=UTF-8\n\n<p>地図</p><img src=\"cid:map@x\"><img src=\"cid:bad@x\">\n",
                       "Content-Type: image/png\nContent-ID: <map@x>\nContent-Transfer-Encoding: base64\n\n" +
                           png.toBase64() + "\n",
                       "Content-Type: image/png\nContent-ID: <bad@x>\nContent-Transfer-Encoding: base64\n\n" +
                           QByteArray("not a picture").toBase64() + "\n"}));
    openAndRead();
    const QImage shown = document()->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("cid:map@x"))).value<QImage>();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_TRUE(form->notesBar->label()->text().contains(QStringLiteral("画像として読めない")));
}

// HTML a sender made to stall a reader: the window keeps answering while the
// message is read, shown and painted, and the reader sees its text or a
// line saying what could not be shown.
struct HostileHtmlCase {
    const char* name;
    QByteArray (*html)();
};

class HostileHtmlTest : public MessageReadingTest, public ::testing::WithParamInterface<HostileHtmlCase> {};

TEST_P(HostileHtmlTest, TheWindowNeverStallsAndSaysWhatItCouldNotShow) {
    receive(withParts("Hostile", "multipart/alternative",
                      {"Content-Type: text/html; charset=UTF-8\n\n" + GetParam().html() + "\n"}));
    open(History::Received);
    qint64 worst = 0;
    const auto step = [&worst](const std::function<void()>& work) {
        QElapsedTimer took;
        took.start();
        work();
        worst = std::max(worst, took.elapsed());
    };
    QElapsedTimer whole;
    whole.start();
    while (form->ReadingPending() && whole.elapsed() < 30000) {
        step([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); });
        QTest::qWait(5);
    }
    // Shown, laid out and painted.
    for (int i = 0; i < 20; ++i) step([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); });
    step([this] { form->htmlView->viewport()->repaint(); });
    EXPECT_LT(worst, 200) << "the longest the window did not answer, in ms";
    ASSERT_NE(form->shownMessage(), nullptr);
    EXPECT_TRUE(document()->toPlainText().contains(QStringLiteral("本文")) || !form->notesBar->label()->text().isEmpty());
}

QByteArray nestedDeep() {
    QByteArray html = "<html><body>";
    for (int i = 0; i < 100000; ++i) html += "<div>";
    return html + "深い本文";
}

QByteArray fiftyMegabytesOfTags() {
    const QByteArray piece = "<p><b><i>本文</i></b></p>\n";
    QByteArray html;
    html.reserve(50 * 1024 * 1024 + piece.size());
    while (html.size() < 50 * 1024 * 1024) html += piece;
    return html;
}

QByteArray brokenMidTag() { return "<p>本文はここまで</p><table><tr><td colspan=\"3\" <a href=\"https://x.example/"; }

INSTANTIATE_TEST_SUITE_P(Html, HostileHtmlTest,
                         ::testing::Values(HostileHtmlCase{"NestedDeep", nestedDeep},
                                           HostileHtmlCase{"FiftyMegabytesOfTags", fiftyMegabytesOfTags},
                                           HostileHtmlCase{"BrokenMidTag", brokenMidTag}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MessageReadingTest, ALongPlainTextDoesNotStallTheWindow) {
    QByteArray body;
    while (body.size() < 4 * 1024 * 1024) body += QStringLiteral("長い記録の一行です。\r\n").toUtf8();
    receive(plainMessage("log", body + "最後の行"));
    open(History::Received);
    qint64 worst = 0;
    QElapsedTimer whole;
    whole.start();
    for (int i = 0; (form->ReadingPending() || i < 20) && whole.elapsed() < 30000; ++i) {
        QElapsedTimer took;
        took.start();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        worst = std::max(worst, took.elapsed());
        QTest::qWait(5);
    }
    EXPECT_LT(worst, 200) << "the longest the window did not answer, in ms";
    ASSERT_NE(form->shownMessage(), nullptr);
    EXPECT_TRUE(shownText().startsWith(QStringLiteral("長い記録の一行です。")));
    EXPECT_TRUE(form->notesBar->label()->text().contains(QStringLiteral("ソースを表示"))) << "what is left out is said";
}

// ---- Attachments -----------------------------------------------------------------------

struct AttachmentCase {
    const char* name;
    QByteArray fileName;
    QString onDisk;  // the file's name when opened
    bool asks;       // a type that runs: asked first
};

class AttachmentTest : public MessageReadingTest, public ::testing::WithParamInterface<AttachmentCase> {};

TEST_P(AttachmentTest, ListedOpenedAndSavedInsideTheirFolders) {
    const AttachmentCase& c = GetParam();
    const QByteArray content = "中身 " + c.fileName + '\n';
    receive(withParts("Files", "multipart/mixed", {kTextPart, attachmentPart(c.fileName, "application/octet-stream", content)}));
    openAndRead();
    ASSERT_TRUE(form->attachmentStrip->isVisible());
    ASSERT_EQ(form->attachmentStrip->count(), 1);
    EXPECT_EQ(form->attachmentStrip->item(0)->data(Qt::AccessibleTextRole).toString(), QString::fromUtf8(c.fileName));

    answer = MessageAnswer::No;
    form->OpenAttachment(0);
    EXPECT_EQ(messages.size(), c.asks ? 1u : 0u);
    if (c.asks) {
        EXPECT_TRUE(messages.front().text.contains(c.onDisk));
        EXPECT_TRUE(opened.empty());
        answer = MessageAnswer::Yes;
        form->OpenAttachment(0);
    }
    ASSERT_EQ(opened.size(), 1u);
    const QString path = opened.front().url.toLocalFile();
    const QString name = QFileInfo(path).fileName();
    if (!c.onDisk.isEmpty()) {
        EXPECT_EQ(name, c.onDisk);
    }
    // A name the file system takes: no control character, within its
    // 255 bytes.
    EXPECT_LE(QFile::encodeName(name).size(), 255);
    EXPECT_FALSE(std::any_of(name.cbegin(), name.cend(), [](QChar ch) { return ch.category() == QChar::Other_Control; }));
    // In the attachment folder, or in the private folder of copies: nowhere
    // a name could climb out to.
    const QString attachments = program.paths.path(files::AttachmentFolder) + u'/';
    const QString copies = QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/lumopet-");
    EXPECT_TRUE(path.startsWith(attachments) || path.startsWith(copies)) << path.toStdString();
    EXPECT_FALSE(opened.front().type.isEmpty());
    QFile openedFile(path);
    ASSERT_TRUE(openedFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(openedFile.readAll(), content);

    const QString target = folder.path(QStringLiteral("保存先.bin"));
    SetSaveFileChooser([&](const SaveFileRequest&) { return target; });
    form->SaveAttachment(0);
    QFile saved(target);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), content);
    EXPECT_FALSE(QFileInfo::exists(folder.path(QStringLiteral(".bashrc"))));
}

INSTANTIATE_TEST_SUITE_P(
    Names, AttachmentTest,
    ::testing::Values(AttachmentCase{"Japanese", "資料.txt", QStringLiteral("資料.txt"), false},
                      AttachmentCase{"PathUpwards", "../../.bashrc", QStringLiteral("attachment1.bashrc"), false},
                      AttachmentCase{"WindowsDevice", "CON", QStringLiteral("CON"), false},
                      AttachmentCase{"ControlCharacters", "a\x01b\x1b[31mc.txt", QString(), false},
                      AttachmentCase{"ThreeHundredBytes", QByteArray(300, 'x') + ".pdf", QString(), false},
                      AttachmentCase{"Script", "setup.sh", QStringLiteral("setup.sh"), true},
                      AttachmentCase{"Program", "請求書.pdf.exe", QStringLiteral("請求書.pdf.exe"), true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Seeing what arrived ------------------------------------------------------------------

TEST_F(MessageReadingTest, ACharsetChosenByHandReadsTheCopyAgain) {
    // Declared Latin-1, written in UTF-8: the sender's mistake.
    receive(plainMessage("wrong", QStringLiteral("日本語の本文").toUtf8(), "ISO-8859-1"));
    openAndRead();
    EXPECT_NE(shownText(), QStringLiteral("日本語の本文"));
    form->SetCharset("UTF-8");
    settle();
    EXPECT_EQ(shownText(), QStringLiteral("日本語の本文"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("日本語の本文"));
}

TEST_F(MessageReadingTest, TheHeaderAndTheSourceInWindowsOfTheirOwn) {
    receive(plainMessage(utf8Subject(QStringLiteral("見出し")), "body\r\n"));
    openAndRead();
    form->ShowHeaders();
    QWidget* headers = form->findChild<QWidget*>(QStringLiteral("messageHeaders"));
    ASSERT_NE(headers, nullptr);
    EXPECT_TRUE(MessageTextBox(headers)->toPlainText().contains(QStringLiteral("Subject: 見出し")));
    form->ShowSource();
    QWidget* source = form->findChild<QWidget*>(QStringLiteral("messageSource"));
    ASSERT_NE(source, nullptr);
    EXPECT_TRUE(MessageTextBox(source)->toPlainText().contains(QStringLiteral("Subject: =?UTF-8?B?")));
    EXPECT_TRUE(MessageTextBox(source)->isReadOnly());
}

TEST_F(MessageReadingTest, ASentMessagesSourceIsTheCopyAsItWentOut) {
    // The record as typed, the copy with the fortune and the tag the send
    // added after it.
    const QDateTime clock(QDate(2026, 12, 7), QTime(9, 5, 3));
    const QString typed = QStringLiteral("明日の件です。");
    ASSERT_TRUE(AppendRecord(file(History::Sent),
                             HistoryRecord{QStringLiteral("明日の件"), ClockText(clock), QStringLiteral("taro@example.jp"), typed},
                             History::Sent)
                    .ok());
    const auto built = mail::BuildMessage(mail::OutgoingMessage{QStringLiteral("hanako@example.jp"),
                                                                QStringLiteral("taro@example.jp"), QStringLiteral("明日の件"),
                                                                OutgoingBody(typed, 3, 5), {}, clock.addSecs(1)});
    ASSERT_TRUE(built.ok());
    ASSERT_TRUE(DeliverToMaildir(SentMaildirPath(program.paths), MaildirLocalForm(built.value())).ok());
    open(History::Sent);
    settle();
    EXPECT_EQ(shownText(), typed) << "the sent history shows what was typed";
    form->ShowSource();
    QWidget* source = form->findChild<QWidget*>(QStringLiteral("messageSource"));
    ASSERT_NE(source, nullptr) << messageTexts().join(u'|').toStdString();
    EXPECT_TRUE(MessageTextBox(source)->toPlainText().contains(QStringLiteral("To: taro@example.jp")));
}

TEST_F(MessageReadingTest, ARecordWithoutACopyIsShownAsStored) {
    ASSERT_TRUE(AppendRecord(file(History::Received),
                             HistoryRecord{QStringLiteral("古い"), QStringLiteral("a@x.jp"), QStringLiteral("2020/01/01"),
                                           QStringLiteral("Windows版から")},
                             History::Received)
                    .ok());
    openAndRead();
    EXPECT_EQ(form->shownMessage(), nullptr);
    EXPECT_EQ(shownText(), QStringLiteral("Windows版から"));
    form->ShowSource();
    EXPECT_EQ(messages.size(), 1u) << "said that there is no source";
}

}  // namespace
}  // namespace lumopet
