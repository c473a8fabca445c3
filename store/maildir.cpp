#include "store/maildir.h"

#include "core/safe_file.h"

#include "core/system_error_text.h"
#include "core/unique_fd.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <functional>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

constexpr mode_t kFolderMode = 0700;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::atomic<unsigned> deliveryCounter{0};

Failure failure(const QString& maildir, int error) {
    const QString reason = error == ELOOP || error == ENOTDIR ? QStringLiteral("フォルダではないか、リンクです")
                                                              : SystemErrorText(error);
    return Failure{QStringLiteral("メールを保存するフォルダ「%1」に書き込めません（%2）。").arg(maildir, reason)};
}

// Opens the folder name inside parent (-1 for a path), creating it when it
// is missing; never through a link.
int openFolder(int parent, const QByteArray& name, bool create) {
    const int fd = parent < 0 ? ::open(name.constData(), kFolderFlags) : ::openat(parent, name.constData(), kFolderFlags);
    if (fd >= 0 || errno != ENOENT || !create) return fd;
    const int made = parent < 0 ? ::mkdir(name.constData(), kFolderMode) : ::mkdirat(parent, name.constData(), kFolderMode);
    if (made != 0 && errno != EEXIST) return -1;
    return parent < 0 ? ::open(name.constData(), kFolderFlags) : ::openat(parent, name.constData(), kFolderFlags);
}

// The host part of a unique name: "/" and ":" would end the name early,
// so they are written as the octal escapes the Maildir convention uses.
// Asked once: a check names a thousand files.
const QByteArray& hostName() {
    static const QByteArray host = [] {
        char buffer[256] = {};
        if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') return QByteArray("localhost");
        QByteArray name(buffer);
        name.replace('/', "\\057");
        name.replace(':', "\\072");
        return name;
    }();
    return host;
}

// The tag in hexadecimal: whatever it holds, the name stays a name.
QByteArray tagPart(const QString& tag) { return tag.isEmpty() ? QByteArray() : ",U=" + tag.toUtf8().toHex(); }

QByteArray uniqueName(const QString& tag) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return QByteArray::number(static_cast<qint64>(now.tv_sec)) + '.' + QByteArray::number(static_cast<qint64>(::getpid())) + '_' +
           QByteArray::number(deliveryCounter.fetch_add(1)) + '.' + hostName() + tagPart(tag);
}

Result<QByteArray> readFile(int folder, const char* name) {
    const UniqueFd fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok()) return Failure{SystemErrorText(errno)};
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Failure{SystemErrorText(errno)};
        if (n == 0) return bytes;
        bytes.append(buffer, n);
    }
}

// Calls visit(folder fd, file name, unique part of the name) for each file
// in new/ and cur/ until it returns false. Another program may have moved a
// file to cur/ and put its flags after a ":": the unique part is the name
// before it. A missing Maildir, new/ or cur/ holds nothing.
Status forEachDelivered(const QString& maildir,
                        const std::function<bool(const char*, int, const char*, const QByteArray&)>& visit) {
    const UniqueFd root(openFolder(-1, QFile::encodeName(maildir), false));
    if (!root.ok()) return errno == ENOENT ? success() : Status(failure(maildir, errno));
    for (const char* sub : {"new", "cur"}) {
        const int fd = openFolder(root.get(), sub, false);
        if (fd < 0) {
            if (errno == ENOENT) continue;
            return failure(maildir, errno);
        }
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            const int error = errno;
            ::close(fd);
            return failure(maildir, error);
        }
        bool goOn = true;
        while (goOn) {
            const dirent* entry = ::readdir(dir);
            if (!entry) break;
            const QByteArray name(entry->d_name);
            const qsizetype colon = name.indexOf(':');
            goOn = visit(sub, ::dirfd(dir), entry->d_name, colon < 0 ? name : name.left(colon));
        }
        ::closedir(dir);
        if (!goOn) break;
    }
    return success();
}

QString heldPath(const QString& maildir, const char* sub, const char* name) {
    return maildir + u'/' + QLatin1StringView(sub) + u'/' + QFile::decodeName(name);
}

}  // namespace

QString ReceivedMaildirPath(const ProgramPaths& paths) { return paths.path(QStringLiteral("\\★MAilData\\Maildir")); }

QString SentMaildirPath(const ProgramPaths& paths) { return paths.path(QStringLiteral("\\★MAilData\\Maildir.sent")); }

QByteArray MaildirLocalForm(QByteArrayView message) {
    QByteArray local;
    local.reserve(message.size());
    // Copied in runs up to each CR LF: a byte at a time cost more than the
    // file's whole delivery, and a search for the pair more than a search
    // for its CR.
    const char* const begin = message.data();
    const char* const end = begin + message.size();
    const char* from = begin;
    for (const char* at = begin; at < end;) {
        const auto* cr = static_cast<const char*>(std::memchr(at, '\r', static_cast<size_t>(end - at)));
        if (!cr) break;
        if (cr + 1 < end && cr[1] == '\n') {
            local.append(from, cr - from);
            from = cr + 1;
        }
        at = cr + 1;
    }
    local.append(from, end - from);
    return local;
}

Result<MaildirFolders> MaildirFolders::Open(const QString& maildir) {
    const QByteArray name = QFile::encodeName(maildir);
    // What is there already needs no flush; folders just made must survive
    // a crash as well as the files in them.
    const bool existed = ::access(name.constData(), F_OK) == 0;
    MaildirFolders folders(maildir, openFolder(-1, name, true));
    if (!folders.root_.ok()) return failure(maildir, errno);
    folders.tmp_ = UniqueFd(openFolder(folders.root_.get(), "tmp", true));
    if (!folders.tmp_.ok()) return failure(maildir, errno);
    folders.new_ = UniqueFd(openFolder(folders.root_.get(), "new", true));
    if (!folders.new_.ok()) return failure(maildir, errno);
    const UniqueFd cur(openFolder(folders.root_.get(), "cur", true));
    if (!cur.ok()) return failure(maildir, errno);
    if (!existed && ::fsync(folders.root_.get()) != 0) return failure(maildir, errno);
    return folders;
}

// Read and write: a large message is decoded from the file it was written
// to. Nothing when it cannot be made, with errno set.
std::optional<MaildirFolders::NamedFile> MaildirFolders::makeInTmp() const {
    QByteArray name = uniqueName({});
    const int fd = ::openat(tmp_.get(), name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return std::nullopt;
    return NamedFile{fd, std::move(name)};
}

Result<MaildirFolders::TmpFile> MaildirFolders::createInTmp() const {
    const auto made = makeInTmp();
    if (!made) return failure(path_, errno);
    return TmpFile{made->fd, path_ + QStringLiteral("/tmp/") + QFile::decodeName(made->name)};
}

void MaildirFolders::removeLeftovers() const {
    const int fd = ::openat(tmp_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0) ::close(fd);
        return;
    }
    // "seconds.pid_counter.host"
    const QByteArray ours = '.' + QByteArray::number(static_cast<qint64>(::getpid())) + '_';
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.') || name.contains(ours)) continue;
        struct stat info {};
        if (::fstatat(tmp_.get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            ::unlinkat(tmp_.get(), entry->d_name, 0);
    }
    ::closedir(dir);
}

Result<QString> MaildirFolders::moveToNew(const QString& tmpPath, const QString& tag) const {
    return linkIntoNew(QFile::encodeName(QFileInfo(tmpPath).fileName()), tag);
}

Result<QString> MaildirFolders::linkIntoNew(const QByteArray& name, const QString& tag) const {
    // link() never replaces a file: a name that is somehow taken gets
    // another counter value.
    QByteArray delivered = uniqueName(tag);
    for (int attempt = 0;; ++attempt) {
        if (::linkat(tmp_.get(), name.constData(), new_.get(), delivered.constData(), 0) == 0) break;
        const int error = errno;
        if (error != EEXIST || attempt >= 100) return failure(path_, error);
        delivered = uniqueName(tag);
    }
    ::unlinkat(tmp_.get(), name.constData(), 0);
    return path_ + QStringLiteral("/new/") + QFile::decodeName(delivered);
}

Result<QString> MaildirFolders::deliver(QByteArrayView message, const QString& tag, MaildirFlush flush) const {
    const auto made = makeInTmp();
    if (!made) return failure(path_, errno);
    UniqueFd file(made->fd);
    const auto dropTemporary = [&] { ::unlinkat(tmp_.get(), made->name.constData(), 0); };
    const bool now = flush == MaildirFlush::Now;
    if (!WriteAll(file.get(), MaildirLocalForm(message)) || (now && ::fsync(file.get()) != 0) || !file.close()) {
        const int error = errno;
        dropTemporary();
        return failure(path_, error);
    }
    const auto moved = linkIntoNew(made->name, tag);
    if (!moved) dropTemporary();
    return moved;
}

Status MaildirFolders::flushNew() const {
    if (::fsync(new_.get()) != 0) return failure(path_, errno);
    return success();
}

Status MaildirFolders::flushFileSystem() const {
    if (::syncfs(root_.get()) != 0) return failure(path_, errno);
    return success();
}

Result<QString> DeliverToMaildir(const QString& maildir, QByteArrayView message, const QString& tag) {
    const auto folders = MaildirFolders::Open(maildir);
    if (!folders) return Failure{folders.error()};
    const auto delivered = folders.value().deliver(message, tag, MaildirFlush::Now);
    if (!delivered) return delivered;
    if (const Status flushed = folders.value().flushNew(); !flushed) return Failure{flushed.error()};
    return delivered;
}

Result<QString> DeliverTmpFileToMaildir(const QString& maildir, const QString& tmpPath) {
    const auto folders = MaildirFolders::Open(maildir);
    if (!folders) return Failure{folders.error()};
    const UniqueFd file(::open(QFile::encodeName(tmpPath).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.ok() || ::fsync(file.get()) != 0) return failure(maildir, errno);
    const auto delivered = folders.value().moveToNew(tmpPath, {});
    if (!delivered) return delivered;
    if (const Status flushed = folders.value().flushNew(); !flushed) return Failure{flushed.error()};
    return delivered;
}

Result<QSet<QString>> ReadMaildirTags(const QString& maildir) {
    QSet<QString> tags;
    const Status walked = forEachDelivered(maildir, [&tags](const char*, int, const char*, const QByteArray& unique) {
        const qsizetype at = unique.lastIndexOf(",U=");
        if (at >= 0) tags.insert(QString::fromUtf8(QByteArray::fromHex(unique.mid(at + 3))));
        return true;
    });
    if (!walked) return Failure{walked.error()};
    return tags;
}

Result<std::optional<QString>> MaildirHeldCopy(const QString& maildir, QByteArrayView message, const QString& tag) {
    const QByteArray wanted = tagPart(tag);
    if (wanted.isEmpty()) return std::optional<QString>();
    const QByteArray local = MaildirLocalForm(message);
    std::optional<QString> found;
    const Status walked = forEachDelivered(maildir, [&](const char* sub, int folder, const char* name, const QByteArray& unique) {
        if (!unique.endsWith(wanted)) return true;
        const auto content = readFile(folder, name);
        if (content && content.value() == local) found = heldPath(maildir, sub, name);
        return !found;
    });
    if (!walked) return Failure{walked.error()};
    return found;
}

Result<std::optional<QString>> MaildirHeldCopyOfFile(const QString& maildir, const QString& path, const QString& tag) {
    const QByteArray wanted = tagPart(tag);
    if (wanted.isEmpty()) return std::optional<QString>();
    const UniqueFd message(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!message.ok()) return Failure{SystemErrorText(errno)};
    std::optional<QString> found;
    const Status walked = forEachDelivered(maildir, [&](const char* sub, int folder, const char* name, const QByteArray& unique) {
        if (!unique.endsWith(wanted)) return true;
        const UniqueFd held(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (held.ok() && SameFileContent(held.get(), message.get())) found = heldPath(maildir, sub, name);
        return !found;
    });
    if (!walked) return Failure{walked.error()};
    return found;
}

}  // namespace lumopet
