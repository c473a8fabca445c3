// The sender chooses the attachment names, so nothing in a name is trusted:
// it is cut down to one plain file name, and every file is created new
// (O_EXCL) inside the folder, so that neither a crafted name nor a file or
// symbolic link already in the folder can make us write anywhere else or
// over anything.

#include "mail/attachment_files.h"

#include "core/safe_file.h"
#include "core/unique_fd.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace lumopet::mail {
namespace {

// Well under NAME_MAX (255 bytes), with room for " (12)".
constexpr qsizetype kMaxNameBytes = 200;
// A longer "extension" is part of the name, not a file type to keep.
constexpr qsizetype kMaxExtensionLength = 16;
constexpr int kMaxNumberedNames = 9999;

bool isControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// Direction overrides and marks let "exe.txt" display as "txt.exe" and back
// ("a\u202Etxt.exe" shows as "aexe.txt").
bool isDirectionControl(char16_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool isForbiddenOnWindows(QChar c) { return QStringView(u"<>:\"|?*").contains(c); }

bool isBlankOrDot(QChar c) { return c == u'.' || c.isSpace(); }

// Removes what cannot be seen or would not survive: control and direction
// characters, and halves of surrogate pairs that have no other half.
QString withoutInvisibles(QStringView text) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            result += c;
            result += text[++i];
        } else if (!c.isSurrogate() && !isControl(c.unicode()) && !isDirectionControl(c.unicode())) {
            result += c;
        }
    }
    return result;
}

QString trimmedOfBlanksAndDots(QString name) {
    while (!name.isEmpty() && isBlankOrDot(name.front())) name.remove(0, 1);
    while (!name.isEmpty() && isBlankOrDot(name.back())) name.chop(1);
    return name;
}

// The extension to keep: letters and digits after the last dot, short.
QString extensionOf(QStringView name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0) return {};
    const QStringView extension = name.sliced(dot + 1);
    if (extension.isEmpty() || extension.size() > kMaxExtensionLength) return {};
    if (!std::all_of(extension.begin(), extension.end(), [](QChar c) { return c.isLetterOrNumber(); })) return {};
    return extension.toString();
}

// The longest start of text that is at most maxBytes in UTF-8 and does not
// split a surrogate pair.
QString cutToUtf8Bytes(QStringView text, qsizetype maxBytes) {
    qsizetype bytes = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const qsizetype width = text[end].isHighSurrogate() && end + 1 < text.size() ? 2 : 1;
        const qsizetype size = QStringView(text).sliced(end, width).toUtf8().size();
        if (bytes + size > maxBytes) break;
        bytes += size;
        end += width;
    }
    return text.first(end).toString();
}

QString cappedLength(const QString& name) {
    if (name.toUtf8().size() <= kMaxNameBytes) return name;
    const QString extension = extensionOf(name);
    if (extension.isEmpty()) return trimmedOfBlanksAndDots(cutToUtf8Bytes(name, kMaxNameBytes));
    const QStringView stem = QStringView(name).first(name.size() - extension.size() - 1);
    const qsizetype stemBytes = kMaxNameBytes - 1 - extension.toUtf8().size();
    return trimmedOfBlanksAndDots(cutToUtf8Bytes(stem, stemBytes)) + u'.' + extension;
}

// "name (2).ext" for the second file of that name.
QString numberedName(const QString& name, int number) {
    const QString suffix = QStringLiteral(" (%1)").arg(number);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0) return name + suffix;
    return name.first(dot) + suffix + name.sliced(dot);
}


struct CreatedFile {
    int fd;
    QString name;
};

// Creates the first free name of name, "name (2)", "name (3)", ... in the
// folder. O_EXCL fails on any existing entry, a dangling symbolic link
// included, so the file is always a new one of ours, even when another
// program creates files in the folder at the same moment.
std::optional<CreatedFile> createNewFile(int folder, const QString& name) {
    for (int number = 1; number <= kMaxNumberedNames; ++number) {
        const QString candidate = number == 1 ? name : numberedName(name, number);
        const QByteArray encoded = QFile::encodeName(candidate);
        int fd;
        do {
            fd = ::openat(folder, encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) return CreatedFile{fd, candidate};
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

// Whether the file open at fd is a regular file holding exactly content.
bool holdsExactly(int fd, QByteArrayView content) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != content.size()) return false;
    char buffer[65536];
    qsizetype offset = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return offset == content.size();
        if (offset + got > content.size() || std::memcmp(buffer, content.data() + offset, static_cast<size_t>(got)) != 0)
            return false;
        offset += got;
    }
}

// The name under which the folder already holds this very attachment: name,
// "name (2)", ... up to the first free one (or up to the one just made,
// notYet). A check that saved the attachments and then could not store
// the message fetches it again; its files must not come twice. A link or
// anything but a regular file is never taken for one (nor read through).
std::optional<QString> alreadySaved(int folder, const QString& name, const std::function<bool(int)>& holds,
                                    const QString& notYet = {}) {
    for (int number = 1; number <= kMaxNumberedNames; ++number) {
        const QString candidate = number == 1 ? name : numberedName(name, number);
        if (candidate == notYet) return std::nullopt;
        int fd;
        do {
            fd = ::openat(folder, QFile::encodeName(candidate).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0 && errno == ENOENT) return std::nullopt;
        if (fd < 0) continue;
        const UniqueFd file(fd);
        if (holds(fd)) return candidate;
    }
    return std::nullopt;
}

// Writes the attachment into the new file fd, from memory or from its
// message's file.
Status writeContent(int fd, const MailAttachment& attachment) {
    if (attachment.streamed) return attachment.streamed->writeTo(fd);
    if (!WriteAll(fd, attachment.content)) return Failure{qt_error_string(errno)};
    return success();
}

}  // namespace

QString SafeAttachmentFileName(const QString& proposed, int index) {
    QString name = withoutInvisibles(proposed);
    // Only the last part of a path, in either convention.
    const qsizetype separator = std::max(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'));
    name = name.sliced(separator + 1);
    if (name.size() >= 2 && name[0].unicode() < 0x80 && name[0].isLetter() && name[1] == u':') name.remove(0, 2);
    for (QChar& c : name) {
        if (isForbiddenOnWindows(c)) c = u'_';
    }

    const QString fallback = QStringLiteral("attachment%1").arg(index);
    // ".pdf": a file type without a name.
    const QString extension = extensionOf(name);
    if (!extension.isEmpty() && trimmedOfBlanksAndDots(name.first(name.size() - extension.size())).isEmpty())
        return fallback + u'.' + extension;
    name = trimmedOfBlanksAndDots(name);
    if (name.isEmpty()) return fallback;
    return cappedLength(name);
}

std::optional<QString> FindSavedAttachment(const QString& folder, const QString& safeName, int content) {
    const UniqueFd folderFd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0) return std::nullopt;
    const auto found = alreadySaved(folderFd.get(), safeName, [content](int fd) { return SameFileContent(fd, content); });
    if (!found) return std::nullopt;
    return QDir(folder).filePath(*found);
}

int SaveAttachments(const QString& folder, const DecodedMessage& message, QStringList* saved,
                    AttachmentFailure* failure) {
    if (message.incompletePartial) return kSplitMessageIncomplete;
    if (message.attachments.empty()) return kNoAttachments;

    // The user has to know which file is missing, and whether to free space
    // or fix the folder, before the message can be received.
    const auto failed = [&](const QString& name, const QString& reason) {
        if (failure) *failure = AttachmentFailure{name, reason};
        return kAttachmentCannotBeOpened;
    };

    const UniqueFd folderFd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0)
        return failed(SafeAttachmentFileName(message.attachments.front().fileName, 1), qt_error_string(errno));

    int index = 0;
    for (const MailAttachment& attachment : message.attachments) {
        ++index;
        const QString name = SafeAttachmentFileName(attachment.fileName, index);
        // Content in memory is compared before anything is written; content
        // from a message's file is decoded once, into the new file, and that
        // is compared.
        const auto holdsContent = [&](int fd) { return holdsExactly(fd, attachment.content); };
        if (!attachment.streamed) {
            if (const auto existing = alreadySaved(folderFd.get(), name, holdsContent)) {
                if (saved) saved->append(QDir(folder).filePath(*existing));
                continue;
            }
        }
        const auto created = createNewFile(folderFd.get(), name);
        if (!created) return failed(name, qt_error_string(errno));
        UniqueFd file(created->fd);
        Status written = writeContent(file.get(), attachment);
        if (written && ::fsync(file.get()) != 0) written = Failure{qt_error_string(errno)};
        const bool closed = written ? file.close() : true;
        if (written && !closed) written = Failure{qt_error_string(errno)};
        const auto drop = [&] { ::unlinkat(folderFd.get(), QFile::encodeName(created->name).constData(), 0); };
        if (!written) {
            // Half a file would look like the whole attachment.
            drop();
            return failed(name, written.error());
        }
        if (attachment.streamed) {
            const UniqueFd made(::openat(folderFd.get(), QFile::encodeName(created->name).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
            const auto existing = made.ok() ? alreadySaved(folderFd.get(), name, [&](int fd) { return SameFileContent(fd, made.get()); },
                                                           created->name)
                                            : std::nullopt;
            if (existing) {
                drop();
                if (saved) saved->append(QDir(folder).filePath(*existing));
                continue;
            }
        }
        if (saved) saved->append(QDir(folder).filePath(created->name));
    }
    // The new names themselves, on disk.
    ::fsync(folderFd.get());
    return kAttachmentsSaved;
}

}  // namespace lumopet::mail
