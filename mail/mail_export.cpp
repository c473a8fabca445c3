#include "mail/mail_export.h"

#include "core/safe_file.h"
#include "core/system_error_text.h"
#include "core/text_helpers.h"
#include "mail/decoded_message.h"
#include "mail/mail_library.h"
#include "mail/message_builder.h"
#include "mail/message_sources.h"
#include "mail/receive_mail.h"
#include "mail/send_mail.h"
#include "store/history_file.h"
#include "store/mail_files.h"
#include "store/stored_uidls.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet::mail {
namespace {

// --- reading the Maildir ------------------------------------------------------

QByteArray digestOf(QByteArrayView bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }

// Files alike to the byte are one message delivered twice: either is the
// source, so they count as one.
struct SourceGroup {
    const SourceFile* first = nullptr;
    QSet<int> claimedBy;  // record numbers that this source could be
};

bool keepGoing(const ExportProgress& progress, ExportStage stage, qint64 done, qint64 total) {
    return !progress || progress(stage, done, total);
}

}  // namespace

HistoryRecord ReceivedRecordOf(QByteArrayView source) {
    // Decoded from the wire form, as the mail check decoded it.
    return ReceivedRecordOf(DecodeMessage(WithCrLf(source)));
}

HistoryRecord ReceivedRecordOf(const DecodedMessage& decoded) {
    // The check's own rule, with the texts cut to the layer's buffer as the
    // check gets them.
    return ReceivedRecord(MailTextsOf(decoded), decoded.text, NamesAttachment(BodyBeforeAttachmentStep(decoded)));
}

std::optional<SourceIndex> FindSources(History history, const QString& historyFile, const QString& maildir,
                                       const ExportProgress& progress, QString* error) {
    const std::vector<HistoryListEntry> listing = ReadListing(historyFile);
    const int count = static_cast<int>(listing.size());
    qint64 total = count;
    // Each file decoded once: what it makes is kept beside the history, and
    // only files added since are decoded again.
    const auto sources = MessageSources::Load(history, historyFile, maildir, [&](qint64 done, qint64 files) {
        total = qint64{count} + files;
        return keepGoing(progress, ExportStage::Matching, done, total);
    });
    if (!sources) {
        if (error) *error = sources.error();
        return std::nullopt;
    }
    if (sources.value().cancelled()) return SourceIndex{{}, true};
    SourceIndex index;
    const std::vector<SourceFile>& files = sources.value().files();
    if (files.empty()) return index;
    qint64 done = static_cast<qint64>(files.size());

    // Every source, once per distinct content.
    std::vector<SourceGroup> groups;
    QHash<QByteArray, size_t> groupOfDigest;
    // Received: the record each source makes, by fingerprint.
    QHash<QByteArray, std::vector<size_t>> groupsOfFingerprint;
    // Sent: the keys of each source, by subject.
    QHash<QString, std::vector<size_t>> groupsOfSubject;
    for (const SourceFile& file : files) {
        if (groupOfDigest.contains(file.digest)) continue;
        const size_t group = groups.size();
        groupOfDigest.insert(file.digest, group);
        groups.push_back(SourceGroup{&file, {}});
        if (history == History::Received)
            groupsOfFingerprint[file.fingerprint].push_back(group);
        else
            groupsOfSubject[file.sent.subject].push_back(group);
    }

    // Which sources each record could be.
    std::map<int, std::vector<size_t>> claims;
    std::optional<QDateTime> nextTime =
        history == History::Sent && count > 0 ? ParseRecordDate(listing.front().Column2) : std::nullopt;
    for (int n = 1; n <= count; ++n) {
        if (!keepGoing(progress, ExportStage::Matching, done++, total)) return SourceIndex{{}, true};
        const auto record = ReadRecord(historyFile, n);
        if (!record) {
            if (error) *error = record.error();
            return std::nullopt;
        }
        std::vector<size_t> found;
        if (history == History::Received) {
            found = groupsOfFingerprint.value(RecordFingerprint(record.value()));
        } else {
            const std::optional<QDateTime> recordTime = nextTime;
            nextTime = n < count ? ParseRecordDate(listing[static_cast<size_t>(n)].Column2) : std::nullopt;
            for (const size_t group : groupsOfSubject.value(record.value().Subject)) {
                if (SentMatches(record.value(), recordTime, nextTime, groups[group].first->sent)) found.push_back(group);
            }
        }
        for (const size_t group : found) groups[group].claimedBy.insert(n);
        if (!found.empty()) claims.emplace(n, std::move(found));
    }
    // A record takes a source only when it could be that one alone and no
    // other record could be it.
    for (const auto& [n, found] : claims) {
        if (found.size() == 1 && groups[found.front()].claimedBy.size() == 1) {
            const SourceFile& file = *groups[found.front()].first;
            index.files.emplace(n, FoundSource{file.path, file.digest, file.deliveryTime});
        }
    }
    return index;
}

// --- making a message from a record ---------------------------------------

namespace {

bool isPlainAscii(QStringView text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E) return false;
    }
    return !text.contains(u"=?");
}

// RFC 2047 encoded words, UTF-8 and base64, each under 75 characters and
// never splitting a character, one per folded line.
QByteArray encodedWords(const QString& text) {
    QList<QByteArray> words;
    QByteArray chunk;
    const auto flush = [&] {
        if (!chunk.isEmpty()) words.append("=?UTF-8?B?" + chunk.toBase64() + "?=");
        chunk.clear();
    };
    for (const char32_t c : text.toUcs4()) {
        const QByteArray bytes = QString::fromUcs4(&c, 1).toUtf8();
        if (chunk.size() + bytes.size() > 45) flush();
        chunk += bytes;
    }
    flush();
    return words.join("\n ");
}

QByteArray headerText(const QString& text) {
    const QString flat = QString(text).replace(u'\r', u' ').replace(u'\n', u' ');
    return isPlainAscii(flat) ? flat.toLatin1() : encodedWords(flat);
}

// "名前 <a@example.jp>" keeps its address as it is and its name encoded;
// anything else that is not a bare address goes as encoded text, which
// reads back as the same text.
QByteArray addressField(const QString& text) {
    const QString value = QString(text).replace(u'\r', u' ').replace(u'\n', u' ').trimmed();
    const qsizetype open = value.lastIndexOf(u'<');
    if (open >= 0 && value.endsWith(u'>') && isPlainAscii(value.sliced(open))) {
        const QString address = value.sliced(open);
        const QString name = value.first(open).trimmed();
        if (name.isEmpty()) return address.toLatin1();
        if (!isPlainAscii(name)) return encodedWords(name) + ' ' + address.toLatin1();
        static const QRegularExpression specials(QStringLiteral("[()<>\\[\\]:;@\\\\,.\"]"));
        const bool quoted = name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"');
        if (quoted || !name.contains(specials)) return name.toLatin1() + ' ' + address.toLatin1();
        return '"' + QString(name).replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\"")).toLatin1() +
               "\" " + address.toLatin1();
    }
    return headerText(value);
}

QByteArray rfc5322Date(const QDateTime& date) {
    const int offset = date.offsetFromUtc() / 60;
    const QLocale c = QLocale::c();
    return c.toString(date, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss ")).toLatin1() + (offset < 0 ? '-' : '+') +
           QByteArray::number(std::abs(offset) / 60).rightJustified(2, '0') +
           QByteArray::number(std::abs(offset) % 60).rightJustified(2, '0');
}

// Quoted-printable (RFC 2045 6.7), LF line ends: lines of at most 76
// characters, blanks at a line's end encoded, and the 'F' of a line that
// starts "From " too, so that no mbox reader ever takes it for a separator.
QByteArray quotedPrintable(const QByteArray& text) {
    QByteArray out;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype l = 0; l < lines.size(); ++l) {
        const QByteArray& line = lines[l];
        if (l == lines.size() - 1 && line.isEmpty()) break;
        QByteArray encodedLine;
        qsizetype width = 0;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            const bool last = i == line.size() - 1;
            QByteArray piece;
            if ((c >= 33 && c <= 126 && c != '=' && !(i == 0 && c == 'F' && line.startsWith("From "))) ||
                ((c == ' ' || c == '\t') && !last))
                piece = QByteArray(1, static_cast<char>(c));
            else
                piece = '=' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
            if (width + piece.size() > 75) {
                encodedLine += "=\n";
                width = 0;
            }
            encodedLine += piece;
            width += piece.size();
        }
        // A body that does not end in a line break ends in a soft one: the
        // message still ends with its line, and the text reads back as it was.
        out += encodedLine + (l == lines.size() - 1 ? "=\n" : "\n");
    }
    return out;
}

}  // namespace

std::optional<QDateTime> ParseRecordDate(const QString& text) {
    static const QRegularExpression clock(QStringLiteral("^(\\d{4})/(\\d{1,2})/(\\d{1,2}) {1,2}(\\d{1,2}):(\\d{2}):(\\d{2})$"));
    const QString trimmed = text.trimmed();
    const QRegularExpressionMatch match = clock.match(trimmed);
    if (match.hasMatch()) {
        const QDate day(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
        const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt());
        const QDateTime date(day, time);
        if (date.isValid()) return date;
        return std::nullopt;
    }
    const QDateTime rfc = QDateTime::fromString(trimmed, Qt::RFC2822Date);
    if (rfc.isValid()) return rfc.toLocalTime();
    return std::nullopt;
}

namespace {
constexpr QByteArrayView kMadeIdDomain = ".history-record@lumopet.invalid>";
}  // namespace

QByteArray MadeMessageId(const HistoryRecord& record) { return '<' + RecordFingerprint(record) + kMadeIdDomain.toByteArray(); }

QByteArray FingerprintOfMadeMessageId(QByteArrayView messageId) {
    const QByteArrayView id = messageId.trimmed();
    const qsizetype digits = id.size() - 1 - kMadeIdDomain.size();
    if (digits <= 0 || !id.startsWith('<') || !id.endsWith(kMadeIdDomain)) return {};
    const QByteArrayView fingerprint = id.sliced(1, digits);
    for (const char c : fingerprint)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    return fingerprint.toByteArray().toLower();
}

QByteArray MessageFromRecord(const HistoryRecord& record, History history, const QString& ownAddress) {
    const bool received = history == History::Received;
    const QString from = received ? record.Column2 : ownAddress;
    const QString to = received ? ownAddress : record.Column3;
    const QString dateText = received ? record.Column3 : record.Column2;
    QByteArray message = "Message-ID: " + MadeMessageId(record) + '\n';
    if (!from.trimmed().isEmpty()) message += "From: " + addressField(from) + '\n';
    if (!to.trimmed().isEmpty()) message += "To: " + addressField(to) + '\n';
    message += "Subject: " + headerText(record.Subject) + '\n';
    if (const auto date = ParseRecordDate(dateText))
        message += "Date: " + rfc5322Date(*date) + '\n';
    else if (!dateText.trimmed().isEmpty())
        // Kept for the reader, where no program takes it for a date.
        message += "Comments: " + headerText(QStringLiteral("日付: ") + dateText.trimmed()) + '\n';
    message += "MIME-Version: 1.0\n"
               "Content-Type: text/plain; charset=UTF-8\n"
               "Content-Transfer-Encoding: quoted-printable\n"
               "\n";
    const QString body = lumopet::WithCrLf(record.Body).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    message += quotedPrintable(body.toUtf8());
    return message;
}

// --- mbox and .eml ------------------------------------------------------------

QByteArray MboxrdEntry(QByteArrayView message, const QString& envelopeAddress, const QDateTime& date) {
    QString address = envelopeAddress.trimmed();
    static const QRegularExpression unfit(QStringLiteral("[\\s\\x00-\\x1f\\x7f-\\x{10ffff}]"));
    if (address.isEmpty() || address.contains(unfit)) address = QStringLiteral("MAILER-DAEMON");
    const QDateTime utc = date.toUTC();
    const QLocale c = QLocale::c();
    QByteArray entry = "From " + address.toLatin1() + ' ' +
                       c.toString(utc, QStringLiteral("ddd MMM ")).toLatin1() +
                       QByteArray::number(utc.date().day()).rightJustified(2, ' ') + ' ' +
                       c.toString(utc, QStringLiteral("HH:mm:ss yyyy")).toLatin1() + '\n';
    entry.reserve(entry.size() + message.size() + message.size() / 64 + 2);
    qsizetype at = 0;
    while (at < message.size()) {
        qsizetype end = message.indexOf('\n', at);
        end = end < 0 ? message.size() : end + 1;
        const QByteArrayView line = message.sliced(at, end - at);
        qsizetype quotes = 0;
        while (quotes < line.size() && line[quotes] == '>') ++quotes;
        if (line.sliced(quotes).startsWith("From ")) entry += '>';
        entry += line;
        at = end;
    }
    if (!entry.endsWith('\n')) entry += '\n';
    entry += '\n';
    return entry;
}

QString EmlFileName(int index, const QString& subject) {
    QString name;
    for (const char32_t c : subject.toUcs4()) {
        const bool refused = c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) ||
                             QStringView(u"/\\:*?\"<>|").contains(QChar(static_cast<char16_t>(c <= 0xFFFF ? c : 0)));
        name += refused ? QStringLiteral("_") : QString::fromUcs4(&c, 1);
    }
    while (!name.isEmpty() && (name.front() == u'.' || name.front() == u' ' || name.front() == u'\u3000')) name.remove(0, 1);
    // Forty characters: even all of them four UTF-8 bytes long, the name
    // stays far under the 255 bytes a file name may have.
    const QList<uint> points = name.toUcs4();
    if (points.size() > 40) name = QString::fromUcs4(reinterpret_cast<const char32_t*>(points.constData()), 40);
    name = name.trimmed();
    while (name.endsWith(u'.')) name.chop(1);
    if (name.isEmpty()) name = QStringLiteral("件名なし");
    return QStringLiteral("%1-%2.eml").arg(index, 5, 10, QChar(u'0')).arg(name);
}

QByteArray WithCrLf(QByteArrayView message) {
    QByteArray out;
    out.reserve(message.size() + message.size() / 32 + 2);
    for (qsizetype i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\n' && (i == 0 || message[i - 1] != '\r')) out += '\r';
        out += c;
    }
    return out;
}

// --- writing ------------------------------------------------------------------

namespace {

Failure writeFailure(const QString& path, int error) {
    return Failure{QStringLiteral("「%1」に書き出せません（%2）。").arg(path, SystemErrorText(error))};
}

void syncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Writes bytes into a new file beside target, flushed and closed. Its name
// on success.
Result<QString> writeBeside(const QString& target, const std::function<Status(int fd)>& write) {
    const std::optional<CreatedFile> created = CreateRewriteFile(target);
    if (!created) return writeFailure(target, errno);
    const QByteArray temporary = QFile::encodeName(created->path);
    Status written = write(created->fd);
    if (written && ::fsync(created->fd) != 0) written = writeFailure(target, errno);
    if (::close(created->fd) != 0 && written) written = writeFailure(target, errno);
    if (!written) {
        ::unlink(temporary.constData());
        return Failure{written.error()};
    }
    return created->path;
}

// Puts the finished file under name without replacing anything: link()
// fails when the name is taken, by whatever got there meanwhile.
int placeNew(const QString& temporary, const QString& name) {
    const QByteArray from = QFile::encodeName(temporary);
    const int linked = ::link(from.constData(), QFile::encodeName(name).constData());
    const int error = errno;
    ::unlink(from.constData());
    return linked == 0 ? 0 : error;
}

// Writes bytes as name in folder, or, when the name is taken (by anything
// at all), as name-2.eml, name-3.eml, …: nothing is written over.
Result<QString> placeUnique(const QDir& folder, const QString& name, const QByteArray& bytes) {
    for (int copy = 1; copy < 1000; ++copy) {
        const QString path =
            folder.filePath(copy == 1 ? name : name.chopped(4) + QStringLiteral("-%1.eml").arg(copy));
        const auto written = writeBeside(path, [&bytes, &path](int fd) -> Status {
            if (!WriteAll(fd, bytes)) return writeFailure(path, errno);
            return success();
        });
        if (!written) return Failure{written.error()};
        const int failed = placeNew(written.value(), path);
        if (failed == 0) return path;
        if (failed != EEXIST) return writeFailure(path, failed);
    }
    return writeFailure(folder.filePath(name), EEXIST);
}

struct Message {
    QByteArray bytes;  // LF line ends, as the Maildir holds them
    QString envelope;
    QDateTime date;
    QString subject;
    bool fromSource = false;
};

Result<Message> messageFor(const MailExportRequest& request, const SourceIndex& index, int n) {
    const auto record = ReadRecord(request.historyFile, n);
    if (!record) return Failure{QStringLiteral("%1 件目の記録を読めません。\n%2").arg(n).arg(record.error())};
    const bool received = request.history == History::Received;
    Message message;
    message.subject = record.value().Subject;
    message.envelope = AddressOf(received ? record.value().Column2 : request.ownAddress);
    const std::optional<QDateTime> date = ParseRecordDate(received ? record.value().Column3 : record.value().Column2);
    if (const auto found = index.files.find(n); found != index.files.end()) {
        const auto read = ReadMessageFile(found->second.path);
        // The Maildir changed since it was read: the record alone is sure.
        if (read && digestOf(read.value()) == found->second.digest) {
            message.bytes = read.value();
            message.fromSource = true;
            message.date = date ? *date : QDateTime::fromSecsSinceEpoch(found->second.deliveryTime);
            return message;
        }
    }
    message.bytes = MessageFromRecord(record.value(), request.history, request.ownAddress);
    message.date = date ? *date : QDateTime::currentDateTime();
    return message;
}

// What a target path is now.
enum class TargetKind { Missing, RegularFile, Folder, Other, Link, Unreadable };

TargetKind targetKind(const QString& path, int* error) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        *error = errno;
        return errno == ENOENT ? TargetKind::Missing : TargetKind::Unreadable;
    }
    if (S_ISLNK(info.st_mode)) return TargetKind::Link;
    if (S_ISREG(info.st_mode)) return TargetKind::RegularFile;
    if (S_ISDIR(info.st_mode)) return TargetKind::Folder;
    return TargetKind::Other;
}

QString refusedTarget(const QString& path, TargetKind kind, int error) {
    switch (kind) {
    case TargetKind::Link:
        return QStringLiteral("「%1」はリンクのため、書き出し先にできません。").arg(path);
    case TargetKind::Unreadable:
        return QStringLiteral("「%1」を調べられません（%2）。").arg(path, SystemErrorText(error));
    default:
        return QStringLiteral("「%1」は通常のファイルでもフォルダでもないため、書き出し先にできません。").arg(path);
    }
}

void writeMbox(const MailExportRequest& request, const SourceIndex& index, const ExportProgress& progress,
               MailExportResult& result) {
    int error = 0;
    const TargetKind kind = targetKind(request.target, &error);
    if (kind == TargetKind::RegularFile && !request.replaceExisting) {
        result.targetExists = true;
        return;
    }
    if (kind != TargetKind::Missing && kind != TargetKind::RegularFile) {
        result.error = kind == TargetKind::Folder ? QStringLiteral("「%1」はフォルダです。").arg(request.target)
                                                  : refusedTarget(request.target, kind, error);
        return;
    }
    MailExportResult counted;
    const qint64 total = static_cast<qint64>(request.records.size());
    const auto written = writeBeside(request.target, [&](int fd) -> Status {
        for (size_t i = 0; i < request.records.size(); ++i) {
            if (!keepGoing(progress, ExportStage::Writing, static_cast<qint64>(i), total)) {
                counted.cancelled = true;
                return Failure{QString()};
            }
            const auto message = messageFor(request, index, request.records[i]);
            if (!message) return Failure{message.error()};
            if (!WriteAll(fd, MboxrdEntry(message.value().bytes, message.value().envelope, message.value().date)))
                return writeFailure(request.target, errno);
            ++counted.written;
            ++(message.value().fromSource ? counted.fromSource : counted.made);
        }
        return success();
    });
    if (counted.cancelled) {
        result.cancelled = true;
        return;
    }
    if (!written) {
        result.error = written.error();
        return;
    }
    if (kind == TargetKind::RegularFile) {
        // Replaced as the user agreed; rename() takes a link that appeared
        // meanwhile away without following it.
        if (::rename(QFile::encodeName(written.value()).constData(), QFile::encodeName(request.target).constData()) != 0) {
            result.error = writeFailure(request.target, errno).message;
            ::unlink(QFile::encodeName(written.value()).constData());
            return;
        }
    } else if (const int failed = placeNew(written.value(), request.target); failed != 0) {
        if (failed == EEXIST)
            result.targetExists = true;
        else
            result.error = writeFailure(request.target, failed).message;
        return;
    }
    syncFolder(QFileInfo(request.target).absolutePath());
    result.written = counted.written;
    result.fromSource = counted.fromSource;
    result.made = counted.made;
    result.files = {request.target};
}

void writeEmlFolder(const MailExportRequest& request, const SourceIndex& index, const ExportProgress& progress,
                    MailExportResult& result) {
    int error = 0;
    const TargetKind kind = targetKind(request.target, &error);
    bool madeFolder = false;
    if (kind == TargetKind::Missing) {
        if (::mkdir(QFile::encodeName(request.target).constData(), 0700) != 0) {
            result.error = writeFailure(request.target, errno).message;
            return;
        }
        madeFolder = true;
    } else if (kind != TargetKind::Folder) {
        result.error = kind == TargetKind::RegularFile
                           ? QStringLiteral("「%1」はフォルダではありません。").arg(request.target)
                           : refusedTarget(request.target, kind, error);
        return;
    }
    const QDir folder(request.target);
    QStringList made;
    // What a cancel or a failure leaves: the folder as it was.
    const auto undo = [&] {
        for (const QString& file : made) ::unlink(QFile::encodeName(file).constData());
        if (madeFolder) ::rmdir(QFile::encodeName(request.target).constData());
    };
    const qint64 total = static_cast<qint64>(request.records.size());
    for (size_t i = 0; i < request.records.size(); ++i) {
        if (!keepGoing(progress, ExportStage::Writing, static_cast<qint64>(i), total)) {
            undo();
            result = MailExportResult{};
            result.cancelled = true;
            return;
        }
        const auto message = messageFor(request, index, request.records[i]);
        if (!message) {
            undo();
            result = MailExportResult{};
            result.error = message.error();
            return;
        }
        const QString name = EmlFileName(static_cast<int>(i) + 1, message.value().subject);
        const QByteArray bytes = WithCrLf(message.value().bytes);
        const auto placed = placeUnique(folder, name, bytes);
        if (!placed) {
            undo();
            result = MailExportResult{};
            result.error = placed.error();
            return;
        }
        made.append(placed.value());
        ++result.written;
        ++(message.value().fromSource ? result.fromSource : result.made);
    }
    syncFolder(request.target);
    if (madeFolder) syncFolder(QFileInfo(request.target).absolutePath());
    result.files = made;
}

}  // namespace

MailExportResult ExportMail(const MailExportRequest& request, const ExportProgress& progress) {
    MailExportResult result;
    if (request.records.empty()) {
        result.error = QStringLiteral("書き出すメールがありません。");
        return result;
    }
    const int count = static_cast<int>(ReadListing(request.historyFile).size());
    for (const int n : request.records) {
        if (n < 1 || n > count) {
            result.error = QStringLiteral("%1 件目の記録は履歴にありません。").arg(n);
            return result;
        }
    }
    // Asked before the long part: the window puts its question first.
    int error = 0;
    if (request.form == ExportForm::Mboxrd && !request.replaceExisting &&
        targetKind(request.target, &error) == TargetKind::RegularFile) {
        result.targetExists = true;
        return result;
    }
    QString failure;
    const std::optional<SourceIndex> index = FindSources(request.history, request.historyFile, request.maildir, progress, &failure);
    if (!index) {
        result.error = failure;
        return result;
    }
    if (index->cancelled) {
        result.cancelled = true;
        return result;
    }
    if (request.form == ExportForm::Mboxrd)
        writeMbox(request, *index, progress, result);
    else
        writeEmlFolder(request, *index, progress, result);
    return result;
}

QString MailExportSentence(const MailExportResult& result, ExportForm form) {
    if (result.cancelled) return QStringLiteral("書き出しを中止しました。ファイルは作っていません。");
    if (!result.error.isEmpty()) return QStringLiteral("メールを書き出せませんでした。\n") + result.error;
    QString sentence = form == ExportForm::Mboxrd
                           ? QStringLiteral("%1 件のメールを mboxrd ファイルに書き出しました。").arg(result.written)
                           : QStringLiteral("%1 件のメールを .eml ファイルとして書き出しました。").arg(result.written);
    if (result.made > 0)
        sentence += QStringLiteral("\nうち %1 件は元のメールが保存されていないため、履歴の内容から作りました。").arg(result.made);
    return sentence;
}

}  // namespace lumopet::mail
