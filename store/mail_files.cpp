#include "store/mail_files.h"

#include "core/safe_file.h"
#include "core/system_error_text.h"
#include "store/fixed_record_file.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

// No mail program sends a message this large; a file that would make one
// is not mail, and holding it would make memory grow with the file after
// all.
constexpr qint64 kMaxMessageBytes = qint64{512} << 20;

QString errorText(int error) {
    // OpenRecordFile's answer to a link, a FIFO, a folder or a device.
    if (error == ELOOP) return QStringLiteral("通常のファイルではないため開きません");
    return SystemErrorText(error);
}

Failure readFailure(const QString& file, int error) {
    return Failure{QStringLiteral("メールのファイル「%1」を読めません（%2）。")
                       .arg(QDir::toNativeSeparators(file), errorText(error))};
}

bool startsWith(QByteArrayView line, QByteArrayView prefix) {
    return line.size() >= prefix.size() && std::memcmp(line.data(), prefix.data(), prefix.size()) == 0;
}

// The line without its LF or CR LF.
QByteArrayView contentOf(QByteArrayView line) {
    if (line.endsWith('\n')) line.chop(1);
    if (line.endsWith('\r')) line.chop(1);
    return line;
}

bool isBlank(QByteArrayView text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

}  // namespace

Result<MboxReader> MboxReader::Open(const QString& file) {
    UniqueFd fd(OpenRecordFile(file, O_RDONLY));
    if (!fd.ok()) return readFailure(file, errno);
    const qint64 size = FileLength(fd.get());
    if (size < 0) return readFailure(file, errno);
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return MboxReader(file, std::move(fd), size);
}

bool MboxReader::readBlock() {
    pending_.remove(0, taken_);
    taken_ = 0;
    const qsizetype kept = pending_.size();
    pending_.resize(kept + kMboxBlock);
    // Read on from where the last block ended.
    const qint64 got = ReadAt(fd_.get(), pending_.data() + kept, kMboxBlock, bytesRead_);
    if (got < 0) {
        pending_.resize(kept);
        return false;
    }
    pending_.resize(kept + got);
    bytesRead_ += got;
    if (got < kMboxBlock) atEnd_ = true;
    noteHeld();
    return true;
}

void MboxReader::noteHeld() {
    peakHeld_ = std::max<qint64>(peakHeld_, pending_.size() + current_.source.size());
}

MboxMessage MboxReader::finishMessage() {
    // The empty line before the next "From " line, or the one a writer put
    // after the last message, parts messages; it is not the message's own.
    QByteArray& source = current_.source;
    if (source.endsWith("\r\n\r\n"))
        source.chop(2);
    else if (source.endsWith("\n\n"))
        source.chop(1);
    inMessage_ = false;
    return std::exchange(current_, MboxMessage{});
}

Result<std::optional<MboxMessage>> MboxReader::next() {
    while (!done_) {
        const char* data = pending_.constData() + taken_;
        const qsizetype left = pending_.size() - taken_;
        const void* lineFeed = left > 0 ? std::memchr(data, '\n', static_cast<size_t>(left)) : nullptr;
        qsizetype length = 0;
        if (lineFeed) {
            length = static_cast<const char*>(lineFeed) - data + 1;
        } else if (!atEnd_) {
            // A line longer than any message: not an mbox, and not to be
            // held whole.
            if (left > kMaxMessageBytes) return readFailure(file_, EFBIG);
            if (!readBlock()) return readFailure(file_, errno);
            continue;
        } else if (left > 0) {
            length = left;  // the last line, without a line end
        } else {
            done_ = true;
            if (!inMessage_) break;
            const bool envelope = !current_.envelopeSender.isEmpty();
            MboxMessage last = finishMessage();
            if (!envelope && isBlank(last.source)) break;
            return std::optional<MboxMessage>(std::move(last));
        }
        const QByteArrayView line(data, length);
        taken_ += length;
        const QByteArrayView content = contentOf(line);

        if (afterEmptyLine_ && startsWith(line, "From ")) {
            std::optional<MboxMessage> finished;
            if (inMessage_) {
                const bool envelope = !current_.envelopeSender.isEmpty();
                finished = finishMessage();
                // Empty lines before the first "From " line are nothing;
                // any other text there is kept as a message of its own.
                if (!envelope && isBlank(finished->source)) finished.reset();
            }
            QByteArrayView rest = content.sliced(5).trimmed();
            qsizetype space = 0;
            while (space < rest.size() && rest[space] != ' ' && rest[space] != '\t') ++space;
            current_.envelopeSender = rest.first(space).toByteArray();
            current_.envelopeDate = rest.sliced(space).trimmed().toByteArray();
            // A "From " line with nothing after it still starts a message.
            if (current_.envelopeSender.isEmpty()) current_.envelopeSender = "-";
            inMessage_ = true;
            afterEmptyLine_ = false;
            if (finished) return finished;
            continue;
        }

        QByteArrayView kept = line;
        if (!line.isEmpty() && line[0] == '>') {
            qsizetype quotes = 0;
            while (quotes < line.size() && line[quotes] == '>') ++quotes;
            if (startsWith(line.sliced(quotes), "From ")) kept = line.sliced(1);
        }
        if (current_.source.size() + kept.size() > kMaxMessageBytes) return readFailure(file_, EFBIG);
        current_.source.append(kept);
        inMessage_ = true;
        afterEmptyLine_ = content.isEmpty();
        noteHeld();
    }
    return std::optional<MboxMessage>();
}

Result<QByteArray> ReadMessageFile(const QString& file) {
    const UniqueFd fd(OpenRecordFile(file, O_RDONLY));
    if (!fd.ok()) return readFailure(file, errno);
    const qint64 size = FileLength(fd.get());
    if (size < 0) return readFailure(file, errno);
    if (size > kMaxMessageBytes) return readFailure(file, EFBIG);
    QByteArray bytes(size, Qt::Uninitialized);
    const qint64 got = ReadAt(fd.get(), bytes.data(), size, 0);
    if (got < 0) return readFailure(file, errno);
    bytes.resize(got);
    return bytes;
}

Result<QVector<MaildirEntry>> ListMaildir(const QString& maildir) {
    const UniqueFd root(::open(QFile::encodeName(maildir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.ok()) return readFailure(maildir, errno);
    QVector<MaildirEntry> entries;
    int folders = 0;
    for (const char* sub : {"cur", "new"}) {
        const int folder = ::openat(root.get(), sub, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0) {
            if (errno == ENOENT) continue;
            return readFailure(maildir + QLatin1Char('/') + QLatin1String(sub), errno == ENOTDIR ? ELOOP : errno);
        }
        ++folders;
        DIR* listing = ::fdopendir(folder);  // owns folder from here on
        if (!listing) {
            const int error = errno;
            ::close(folder);
            return readFailure(maildir, error);
        }
        const QString prefix = maildir + QLatin1Char('/') + QLatin1String(sub) + QLatin1Char('/');
        errno = 0;
        while (const dirent* item = ::readdir(listing)) {
            const QByteArrayView name(item->d_name);
            if (name.startsWith('.')) continue;
            struct stat info {};
            if (::fstatat(folder, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
            MaildirEntry entry;
            entry.path = prefix + QFile::decodeName(item->d_name);
            // ":2,flags"; where ':' may not be in a name, some write '!'.
            qsizetype info2 = name.lastIndexOf(":2,");
            if (info2 < 0) info2 = name.lastIndexOf("!2,");
            if (info2 >= 0) entry.flags = name.sliced(info2 + 3).toByteArray();
            for (char c : name) {
                if (c < '0' || c > '9') break;
                entry.deliveryTime = entry.deliveryTime * 10 + (c - '0');
            }
            entries.push_back(std::move(entry));
        }
        const int error = errno;
        ::closedir(listing);
        if (error != 0) return readFailure(maildir, error);
    }
    if (folders == 0)
        return Failure{QStringLiteral("「%1」は Maildir のフォルダではありません（cur も new もありません）。")
                           .arg(QDir::toNativeSeparators(maildir))};
    auto nameOf = [](const MaildirEntry& entry) { return QStringView(entry.path).sliced(entry.path.lastIndexOf('/') + 1); };
    std::sort(entries.begin(), entries.end(), [&](const MaildirEntry& a, const MaildirEntry& b) {
        if (a.deliveryTime != b.deliveryTime) return a.deliveryTime < b.deliveryTime;
        return nameOf(a) < nameOf(b);
    });
    return entries;
}

QByteArray MessageIdOf(QByteArrayView source) {
    QByteArray value;
    bool inMessageId = false;
    qsizetype at = 0;
    while (at < source.size()) {
        qsizetype end = source.indexOf('\n', at);
        end = end < 0 ? source.size() : end + 1;
        const QByteArrayView content = contentOf(source.sliced(at, end - at));
        at = end;
        if (content.isEmpty()) break;  // the header part ends here
        const bool continued = content[0] == ' ' || content[0] == '\t';
        if (inMessageId && continued) {
            value.append(content);
            continue;
        }
        if (inMessageId) break;
        if (!continued && content.size() >= 11 && content.first(11).compare("Message-ID:", Qt::CaseInsensitive) == 0) {
            inMessageId = true;
            value = content.sliced(11).toByteArray();
        }
    }
    return value.trimmed();
}

QByteArray MessageDuplicateKey(QByteArrayView source) {
    QByteArray id = MessageIdOf(source);
    if (!id.isEmpty()) return id;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qsizetype at = 0;
    while (at < source.size()) {
        const qsizetype lineFeed = source.indexOf('\n', at);
        if (lineFeed < 0) {
            hash.addData(source.sliced(at));
            break;
        }
        qsizetype end = lineFeed;
        if (end > at && source[end - 1] == '\r') --end;
        hash.addData(source.sliced(at, end - at));
        hash.addData(QByteArrayView("\r\n"));
        at = lineFeed + 1;
    }
    return hash.result().toHex();
}

}  // namespace lumopet
