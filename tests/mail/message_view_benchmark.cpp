// What reading a message whole for the reader costs, warm. Not a test: it
// prints the figures.
//   message_view_benchmark [rounds]   (default 30)
// Goals: a message with a 25 MB attachment listed in well under 100 ms, a
// message of 100 KB of HTML in under 10 ms (the viewer's budget from the
// click is 150 ms and 50 ms).

#include "mail/gmime_handles.h"
#include "mail/mail_library.h"
#include "mail/mime/message_view.h"
#include "store/maildir.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace lumopet;

QByteArray base64Lines(const QByteArray& content) {
    const QByteArray encoded = content.toBase64();
    QByteArray lines;
    lines.reserve(encoded.size() + encoded.size() / 76 * 2 + 2);
    for (qsizetype pos = 0; pos < encoded.size(); pos += 76) lines += encoded.mid(pos, 76) + "\r\n";
    return lines;
}

QByteArray largeAttachmentMessage() {
    QByteArray content(25 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(25);
    generator.fillRange(reinterpret_cast<quint32*>(content.data()), content.size() / 4);
    return "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\r\nTo: you@example.jp\r\nSubject: "
           "=?UTF-8?B?" + QStringLiteral("資料をお送りします").toUtf8().toBase64() +
           "?=\r\nDate: Thu, 10 Dec 2026 09:00:00 +0900\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"mixed\"\r\n\r\n--mixed\r\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n\x1b$B;qNA$r$*Aw$j$7$^$9!#\x1b(B\r\n--mixed\r\n"
           "Content-Type: application/zip; name=\"data.zip\"\r\nContent-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"data.zip\"\r\n\r\n" + base64Lines(content) + "--mixed--\r\n";
}

QByteArray htmlMessage() {
    QByteArray html = "<html><head><meta charset=\"utf-8\"><style>p{margin:0}</style></head><body><table>";
    for (int row = 0; html.size() < 100 * 1024; ++row)
        html += QStringLiteral("<tr><td class=\"c\">%1</td><td><a href=\"https://example.jp/item/%1\">商品 %1 のご案内 ①～</a></td></tr>\r\n")
                    .arg(row).toUtf8();
    html += "</table></body></html>";
    return "From: shop@example.jp\r\nTo: you@example.jp\r\nSubject: =?UTF-8?B?" + QStringLiteral("お知らせ").toUtf8().toBase64() +
           "?=\r\nMIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n--alt\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
           base64Lines(QStringLiteral("テキスト版です。\r\n").repeated(200).toUtf8()) +
           "--alt\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + html +
           "\r\n--alt--\r\n";
}

// The floor: GMime alone finding the parts over the same kind of stream,
// nothing read or decoded.
void parseOnly(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const mail::GObjectPtr<GMimeStream> stream(g_mime_stream_fs_new_with_bounds(fd, 0, -1));
    GMimeParserOptions* options = g_mime_parser_options_new();
    const mail::GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    const mail::GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options));
    if (!message) std::printf("GMime read nothing from %s\n", qPrintable(path));
    g_mime_parser_options_free(options);
}

void viewed(const QString& path) {
    const mail::ViewedMessage view = mail::ViewMessageFile(path);
    if (view.attachments.empty() && view.html.isEmpty()) std::printf("nothing read from %s\n", qPrintable(path));
}

// Milliseconds of each round, sorted.
std::vector<double> timed(const QString& path, int rounds, void (*read)(const QString&)) {
    std::vector<double> times;
    read(path);  // warm
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        read(path);
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times;
}

void report(const char* what, const std::vector<double>& times) {
    std::printf("%-34s median %7.2f ms  fastest %7.2f ms  slowest %7.2f ms\n", what, times[times.size() / 2],
                times.front(), times.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    NMailInitializeWinSock();
    QTemporaryDir folder;
    const struct {
        const char* name;
        QByteArray message;
    } messages[] = {
        {"25 MB attachment (base64)", largeAttachmentMessage()},
        {"100 KB HTML (alternative)", htmlMessage()},
    };
    for (const auto& message : messages) {
        const QString path = folder.filePath(QString::fromLatin1(message.name).left(6).trimmed());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(MaildirLocalForm(message.message)) < 0) return 1;
        file.close();
        std::printf("%s, %.1f KB in the Maildir\n", message.name, static_cast<double>(QFile(path).size()) / 1024.0);
        report("  ViewMessageFile", timed(path, rounds, viewed));
        report("  GMime's parse alone (the floor)", timed(path, rounds, parseOnly));
    }
    NMailEndWinSock();
    return 0;
}
