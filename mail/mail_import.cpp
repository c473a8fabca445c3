#include "mail/mail_import.h"

#include "core/system_error_text.h"
#include "mail/attachment_files.h"
#include "mail/decoded_message.h"
#include "mail/mail_export.h"
#include "mail/mail_library.h"
#include "mail/receive_mail.h"
#include "store/fixed_record_file.h"
#include "store/history_file.h"
#include "store/mail_files.h"
#include "store/maildir.h"
#include "store/stored_uidls.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

constexpr qint64 S = kHistoryRecordSize;

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

// The sources the user names are opened only as what they claim to be: a
// link could lead anywhere (a device, a file of someone else's), and
// reading a FIFO waits for a writer that never comes.
Status checkSourcePath(const QString& path, bool folder) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return Failure{QStringLiteral("「%1」を開けません（%2）。").arg(native(path), SystemErrorText(errno))};
    if (S_ISLNK(info.st_mode))
        return Failure{QStringLiteral("「%1」はリンクのため開きません。リンク先を直接選んでください。").arg(native(path))};
    if (folder && !S_ISDIR(info.st_mode))
        return Failure{QStringLiteral("「%1」はフォルダではありません。").arg(native(path))};
    if (!folder && !S_ISREG(info.st_mode))
        return Failure{QStringLiteral("「%1」は通常のファイルではないため開きません。").arg(native(path))};
    return success();
}

qint64 sizeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? static_cast<qint64>(info.st_size) : 0;
}

// One message after another out of the source, in its order.
class MessageSource {
public:
    enum class Step { Message, Unreadable, End, Failed };
    virtual ~MessageSource() = default;
    // Message: the source is in message. Unreadable: this one could not be
    // read, error says why, the others may. Failed: nothing more can be
    // read, error says why.
    virtual Step next(QByteArray& message, QString& error) = 0;
    virtual qint64 bytesRead() const = 0;
    virtual qint64 bytesTotal() const = 0;
};

class MboxSource final : public MessageSource {
public:
    explicit MboxSource(MboxReader reader) : reader_(std::move(reader)) {}
    Step next(QByteArray& message, QString& error) override {
        auto read = reader_.next();
        if (!read) {
            error = read.error();
            return Step::Failed;
        }
        if (!read.value()) return Step::End;
        message = std::move(read.value()->source);
        return Step::Message;
    }
    qint64 bytesRead() const override { return reader_.bytesRead(); }
    qint64 bytesTotal() const override { return reader_.fileSize(); }

private:
    MboxReader reader_;
};

// .eml files, or the files of a Maildir: one file is one message.
class FileListSource final : public MessageSource {
public:
    explicit FileListSource(QStringList files) : files_(std::move(files)) {
        for (const QString& file : files_) total_ += sizeOf(file);
    }
    Step next(QByteArray& message, QString& error) override {
        if (at_ >= files_.size()) return Step::End;
        const QString& file = files_[at_++];
        read_ += sizeOf(file);
        auto bytes = ReadMessageFile(file);
        if (!bytes) {
            error = bytes.error();
            return Step::Unreadable;
        }
        message = std::move(bytes.value());
        return Step::Message;
    }
    qint64 bytesRead() const override { return read_; }
    qint64 bytesTotal() const override { return total_; }

private:
    QStringList files_;
    qsizetype at_ = 0;
    qint64 read_ = 0;
    qint64 total_ = 0;
};

Result<std::unique_ptr<MessageSource>> openSource(const MailImportRequest& request) {
    if (request.paths.isEmpty()) return Failure{QStringLiteral("取り込むファイルが選ばれていません。")};
    switch (request.kind) {
    case MailSourceKind::Mbox: {
        if (const Status checked = checkSourcePath(request.paths.front(), false); !checked)
            return Failure{checked.error()};
        auto reader = MboxReader::Open(request.paths.front());
        if (!reader) return Failure{reader.error()};
        return std::unique_ptr<MessageSource>(std::make_unique<MboxSource>(std::move(reader.value())));
    }
    case MailSourceKind::MessageFiles:
        for (const QString& file : request.paths)
            if (const Status checked = checkSourcePath(file, false); !checked) return Failure{checked.error()};
        return std::unique_ptr<MessageSource>(std::make_unique<FileListSource>(request.paths));
    case MailSourceKind::Maildir: {
        if (const Status checked = checkSourcePath(request.paths.front(), true); !checked)
            return Failure{checked.error()};
        auto entries = ListMaildir(request.paths.front());
        if (!entries) return Failure{entries.error()};
        QStringList files;
        files.reserve(entries.value().size());
        for (const MaildirEntry& entry : entries.value()) files << entry.path;
        return std::unique_ptr<MessageSource>(std::make_unique<FileListSource>(std::move(files)));
    }
    }
    return Failure{QStringLiteral("取り込むファイルの種類が分かりません。")};
}

// The header part of a message file, at most limit bytes of it: enough
// for its Message-ID without reading a large message whole.
std::optional<QByteArray> readHeaderPart(const QString& file, qint64 limit) {
    const UniqueFd fd(OpenRecordFile(file, O_RDONLY));
    if (!fd.ok()) return std::nullopt;
    constexpr qint64 kPiece = 8 * 1024;
    QByteArray header;
    while (header.size() < limit) {
        const qsizetype kept = header.size();
        header.resize(kept + kPiece);
        const qint64 got = ReadAt(fd.get(), header.data() + kept, kPiece, kept);
        if (got < 0) return std::nullopt;
        header.resize(kept + got);
        // The empty line that ends the header; one may start the piece.
        const qsizetype from = std::max<qsizetype>(0, kept - 3);
        if (header.indexOf("\n\n", from) >= 0 || header.indexOf("\n\r\n", from) >= 0 || got < kPiece) break;
    }
    return header;
}

// The duplicate keys of every message the received Maildir holds, read
// once an import: the Message-ID from the header of each file, and only
// for a message without one the whole file for its hash. A file that
// cannot be read gives no key (its message may come in twice, never be
// lost).
QSet<QByteArray> maildirKeys(const QString& maildir) {
    QSet<QByteArray> keys;
    auto entries = ListMaildir(maildir);
    if (!entries) return keys;
    keys.reserve(entries.value().size());
    for (const MaildirEntry& entry : entries.value()) {
        const std::optional<QByteArray> header = readHeaderPart(entry.path, 256 * 1024);
        if (!header) continue;
        QByteArray key = MessageIdOf(*header);
        if (key.isEmpty()) {
            const auto whole = ReadMessageFile(entry.path);
            if (!whole) continue;
            key = MessageDuplicateKey(whole.value());
        }
        keys.insert(std::move(key));
    }
    return keys;
}

// The fingerprints of the records the received history holds, read by
// blocks: the file may be 400 MB. Taken from the bytes: every record this
// program or the Windows version wrote is in the form EncodeRecord gives,
// so the bytes hash as the record decoded from them would.
Result<QSet<QByteArray>> historyFingerprints(const QString& history) {
    QSet<QByteArray> fingerprints;
    const UniqueFd fd(OpenRecordFile(history, O_RDONLY));
    if (!fd.ok()) {
        if (errno == ENOENT) return fingerprints;
        return Failure{QStringLiteral("履歴ファイル「%1」を読めません（%2）。").arg(native(history), SystemErrorText(errno))};
    }
    QByteArray block(kRecordsPerBlock * S, Qt::Uninitialized);
    for (qint64 offset = 0;; offset += block.size()) {
        const qint64 got = ReadAt(fd.get(), block.data(), block.size(), offset);
        if (got < 0)
            return Failure{QStringLiteral("履歴ファイル「%1」を読めません（%2）。").arg(native(history), SystemErrorText(errno))};
        for (qint64 at = 0; at + S <= got; at += S)
            fingerprints.insert(RecordBytesFingerprint(QByteArrayView(block).sliced(at, S)));
        if (got < block.size()) break;
    }
    return fingerprints;
}

// A mail check that died after noting a UIDL and before appending its
// record left a line that names the next record's place. Records taken in
// now would fill that place, and the next check would take the message
// for stored and delete it from the server unstored. Settled first, as the
// check settles the file before it notes anything, such a line is gone.
Status settleStoredUidls(const ProgramPaths& paths, const QString& history) {
    const QString file = StoredUidlsPath(paths);
    if (!QFileInfo::exists(file)) return success();
    auto known = ReadStoredUidls(file, history, QDate::currentDate(), HistoryPath(paths, History::Junk));
    if (!known) return Failure{known.error()};
    return WriteStoredUidls(file, known.value());
}

// The import's store: the received Maildir and the history, held open for
// its run, and what it has put into them since they were last flushed.
class ImportStore {
public:
    ImportStore(MaildirFolders folders, RecordAppender history, QString historyPath)
        : folders_(std::move(folders)), history_(std::move(history)), historyPath_(std::move(historyPath)) {}

    // The number the next record would get.
    Result<qint64> nextNumber() const {
        const auto length = history_.length();
        if (!length) return Failure{length.error()};
        return NumberAppendedAt(length.value(), S);
    }

    // The source into the Maildir, then the record: a record is never on
    // disk without its source beside it. Nothing of the message stays
    // when either fails.
    Status store(const QByteArray& source, const QByteArray& record) {
        const auto delivered = folders_.deliver(source, QString(), MaildirFlush::Later);
        if (!delivered) return Failure{delivered.error()};
        ++unflushed_;
        const auto before = history_.length();
        const auto appended = before ? history_.append(record) : Result<int>(Failure{before.error()});
        if (!appended) {
            ::unlink(QFile::encodeName(delivered.value()).constData());
            // A write cut short by a full disk leaves part of a record;
            // the next record would be placed after it.
            if (before) {
                const UniqueFd fd(OpenRecordFile(historyPath_, O_WRONLY));
                if (fd.ok() && FileLength(fd.get()) > before.value()) (void)::ftruncate(fd.get(), before.value());
            }
            return Failure{appended.error()};
        }
        return success();
    }

    // Every copy, then the history, on disk.
    Status flush() {
        if (unflushed_ == 0) return success();
        if (const Status copies = folders_.flushFileSystem(); !copies) return copies;
        if (const Status records = history_.sync(); !records) return records;
        unflushed_ = 0;
        return success();
    }

    int unflushed() const { return unflushed_; }

private:
    MaildirFolders folders_;
    RecordAppender history_;
    QString historyPath_;
    int unflushed_ = 0;
};

QString megabytes(qint64 bytes) { return QString::number(static_cast<double>(bytes) / (1024 * 1024), 'f', 0); }

}  // namespace

MailImportResult ImportMail(const ProgramPaths& paths, const MailImportRequest& request,
                            const MailImportProgressCallback& progress, const std::atomic<bool>* cancel) {
    MailImportResult result;
    auto opened = openSource(request);
    if (!opened) {
        result.error = opened.error();
        return result;
    }
    MessageSource& source = *opened.value();

    const QString historyPath = HistoryPath(paths, History::Received);
    if (const Status settled = settleStoredUidls(paths, historyPath); !settled) {
        result.error = settled.error();
        return result;
    }
    auto folders = MaildirFolders::Open(ReceivedMaildirPath(paths));
    if (!folders) {
        result.error = folders.error();
        return result;
    }
    QSet<QByteArray> keys = maildirKeys(folders.value().path());
    auto fingerprints = historyFingerprints(historyPath);
    if (!fingerprints) {
        result.error = fingerprints.error();
        return result;
    }
    auto history = OpenHistoryForAppending(historyPath);
    if (!history) {
        result.error = history.error();
        return result;
    }
    ImportStore store(std::move(folders.value()), std::move(history.value()), historyPath);
    const QString attachmentFolder = paths.path(files::AttachmentFolder) + u'/';

    auto report = [&] {
        if (progress) progress({result.taken, result.skipped, source.bytesRead(), source.bytesTotal()});
    };
    bool full = false;
    QByteArray message;
    QString error;
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            result.cancelled = true;
            break;
        }
        const MessageSource::Step step = source.next(message, error);
        if (step == MessageSource::Step::End) break;
        if (step == MessageSource::Step::Failed) {
            result.error = error;
            break;
        }
        if (step == MessageSource::Step::Unreadable) {
            if (result.unreadable++ == 0) result.unreadableError = error;
            report();
            continue;
        }
        QByteArray key = MessageDuplicateKey(message);
        // A message this program made from a record, when exported, names
        // the record: skipped while the history holds it.
        const QByteArray madeFrom = mail::FingerprintOfMadeMessageId(MessageIdOf(message));
        if (keys.contains(key) || (!madeFrom.isEmpty() && fingerprints.value().contains(madeFrom))) {
            ++result.skipped;
            report();
            continue;
        }
        if (!full) {
            const auto number = store.nextNumber();
            if (!number) {
                result.error = number.error();
                break;
            }
            full = number.value() > kImportHistoryLimit;
        }
        // From here on the rest is only counted: it stays in the source,
        // for when the user has made room.
        if (full) {
            ++result.notTaken;
            // The same message again further on is a duplicate of this
            // one, not a second one left behind.
            keys.insert(std::move(key));
            report();
            continue;
        }
        if (message.size() > kMaxHeldMessageBytes) {
            ++result.tooLarge;
            report();
            continue;
        }
        const mail::DecodedMessage decoded = mail::DecodeMessage(message);
        const MailTexts texts = MailTextsOf(decoded);
        // Without the attachments in the folder, the record must not say
        // they are there.
        const bool attachmentText =
            request.extractAttachments && NamesAttachment(mail::BodyBeforeAttachmentStep(decoded));
        // Encoded once, for its fingerprint and for the history (Live 1).
        const QByteArray record = EncodeRecord(ReceivedRecord(texts, decoded.text, attachmentText), History::Received);
        QByteArray fingerprint = RecordBytesFingerprint(record);
        if (fingerprints.value().contains(fingerprint)) {
            ++result.skipped;
            report();
            continue;
        }
        if (request.extractAttachments) {
            mail::AttachmentFailure failure;
            if (mail::SaveAttachments(attachmentFolder, decoded, nullptr, &failure) == mail::kAttachmentCannotBeOpened) {
                result.error = QStringLiteral("添付ファイル「%1」を「%2」に書き込めません。\n%3")
                                   .arg(failure.name, native(attachmentFolder), failure.reason);
                break;
            }
        }
        if (const Status stored = store.store(message, record); !stored) {
            result.error = stored.error();
            break;
        }
        ++result.taken;
        keys.insert(std::move(key));
        fingerprints.value().insert(std::move(fingerprint));
        if (store.unflushed() >= kImportFlushEvery) {
            if (const Status flushed = store.flush(); !flushed) {
                result.error = flushed.error();
                break;
            }
        }
        report();
    }
    if (const Status flushed = store.flush(); !flushed && result.error.isEmpty()) result.error = flushed.error();
    report();
    return result;
}

QString MailImportSentence(const MailImportResult& result) {
    QString text;
    if (result.cancelled)
        text = QStringLiteral("取り込みを中止しました。それまでの %1 通を取り込みました。").arg(result.taken);
    else if (!result.error.isEmpty())
        text = QStringLiteral("取り込みの途中で止まりました。それまでの %1 通を取り込みました。").arg(result.taken);
    else
        text = QStringLiteral("%1 通のメールを取り込みました。").arg(result.taken);
    if (result.skipped > 0) text += QStringLiteral("\n既にある %1 通は取り込みませんでした。").arg(result.skipped);
    if (result.notTaken > 0)
        text += QStringLiteral("\n着信履歴がいっぱい（%1 件）のため、残りの %2 通は取り込めませんでした。"
                               "不要な記録を削除してから、もう一度取り込んでください。")
                    .arg(kImportHistoryLimit)
                    .arg(result.notTaken);
    if (result.tooLarge > 0)
        text += QStringLiteral("\n%1 MB を超える %2 通は大きすぎるため取り込みませんでした。")
                    .arg(megabytes(kMaxHeldMessageBytes))
                    .arg(result.tooLarge);
    if (result.unreadable > 0)
        text += QStringLiteral("\n読めなかったファイルが %1 個ありました。\n%2").arg(result.unreadable).arg(result.unreadableError);
    if (!result.error.isEmpty()) text += u'\n' + result.error;
    return text;
}

}  // namespace lumopet
