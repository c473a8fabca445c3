#include "store/draft_folder.h"

#include "core/system_error_text.h"
#include "core/unique_fd.h"
#include "store/maildir.h"

#include <QFile>
#include <QUuid>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The id a file name carries; empty when the name is not a draft's.
QString idOf(const QByteArray& fileName) {
    const qsizetype colon = fileName.indexOf(':');
    const QByteArray unique = colon < 0 ? fileName : fileName.left(colon);
    const qsizetype at = unique.lastIndexOf(",U=");
    if (at < 0) return {};
    const QByteArray hex = unique.mid(at + 3);
    const bool isHex = !hex.isEmpty() && hex.size() % 2 == 0 &&
                       std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    return isHex ? QString::fromUtf8(QByteArray::fromHex(hex)) : QString();
}

Failure folderFailure(const QString& maildir, int error) {
    const QString reason = error == ELOOP || error == ENOTDIR ? QStringLiteral("フォルダではないか、リンクです") : SystemErrorText(error);
    return Failure{QStringLiteral("下書きのフォルダ「%1」を読めません（%2）。").arg(maildir, reason)};
}

QString skipLine(const QString& path, const QString& reason) {
    return QStringLiteral("下書き「%1」を読まずにおきます（%2）。").arg(path, reason);
}

struct Found {
    DraftFile file;
    timespec modified{};
};

bool newer(const timespec& a, const timespec& b) { return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec; }

// Reads one entry of a draft folder as an attacker might have left it: the
// type is asked without following a link, the file is opened without
// following one and without waiting on a FIFO, asked again once open (it
// may have been swapped in between), and read only up to the cap.
std::optional<QString> readEntry(int folder, const char* name, Found& found) {
    struct stat info {};
    if (::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return SystemErrorText(errno);
    const auto kindOf = [](const struct stat& s) -> std::optional<QString> {
        if (S_ISLNK(s.st_mode)) return QStringLiteral("リンクです");
        if (S_ISFIFO(s.st_mode)) return QStringLiteral("FIFO です");
        if (S_ISDIR(s.st_mode)) return QStringLiteral("フォルダです");
        if (!S_ISREG(s.st_mode)) return QStringLiteral("普通のファイルではありません");
        if (s.st_size > kLargestDraftFile) return QStringLiteral("下書きにしては大きすぎます");
        return std::nullopt;
    };
    if (const auto refused = kindOf(info)) return refused;
    const UniqueFd fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.ok()) return errno == ELOOP ? QStringLiteral("リンクです") : SystemErrorText(errno);
    if (::fstat(fd.get(), &info) != 0) return SystemErrorText(errno);
    if (const auto refused = kindOf(info)) return refused;
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return SystemErrorText(errno);
        if (n == 0) break;
        bytes.append(buffer, n);
        if (bytes.size() > kLargestDraftFile) return QStringLiteral("下書きにしては大きすぎます");
    }
    found.file.message = std::move(bytes);
    found.modified = info.st_mtim;
    found.file.saved = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000);
    return std::nullopt;
}

// Removes every file of the draft id in new/ and cur/ but keep (a file name
// in new/, or empty).
Status removeFiles(const QString& maildir, const QString& id, const QByteArray& keep) {
    const UniqueFd root(::open(QFile::encodeName(maildir).constData(), kFolderFlags));
    if (!root.ok()) return errno == ENOENT ? success() : Status(folderFailure(maildir, errno));
    for (const char* sub : {"new", "cur"}) {
        const int fd = ::openat(root.get(), sub, kFolderFlags);
        if (fd < 0) {
            if (errno == ENOENT) continue;
            return folderFailure(maildir, errno);
        }
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            const int error = errno;
            ::close(fd);
            return folderFailure(maildir, error);
        }
        std::vector<QByteArray> doomed;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name.startsWith('.') || (name == keep && std::string_view(sub) == "new")) continue;
            if (idOf(name) == id) doomed.push_back(name);
        }
        int failed = 0;
        for (const QByteArray& name : doomed)
            if (::unlinkat(::dirfd(dir), name.constData(), 0) != 0 && errno != ENOENT) failed = errno;
        if (!doomed.empty()) ::fsync(::dirfd(dir));
        ::closedir(dir);
        if (failed != 0) return folderFailure(maildir, failed);
    }
    return success();
}

}  // namespace

QString DraftsMaildirPath(const ProgramPaths& paths) { return paths.path(QStringLiteral("\\★MailData\\Maildir.drafts")); }

QString NewDraftId() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

Result<QString> SaveDraftFile(const QString& maildir, const QString& id, QByteArrayView message) {
    if (id.isEmpty()) return Failure{QStringLiteral("下書きに名前がありません。")};
    const auto folders = MaildirFolders::Open(maildir);
    if (!folders) return Failure{folders.error()};
    // The new copy is whole and on disk, under its own name, before the old
    // one goes: a crash in between leaves two, and the newer is read.
    const auto delivered = folders.value().deliver(message, id, MaildirFlush::Now);
    if (!delivered) return delivered;
    if (const Status flushed = folders.value().flushNew(); !flushed) return Failure{flushed.error()};
    const QByteArray kept = QFile::encodeName(delivered.value().mid(delivered.value().lastIndexOf(u'/') + 1));
    if (const Status removed = removeFiles(maildir, id, kept); !removed) return Failure{removed.error()};
    return delivered;
}

Status RemoveDraftFile(const QString& maildir, const QString& id) {
    if (id.isEmpty()) return success();
    return removeFiles(maildir, id, {});
}

Result<DraftFiles> ReadDraftFiles(const QString& maildir) {
    DraftFiles result;
    const UniqueFd root(::open(QFile::encodeName(maildir).constData(), kFolderFlags));
    if (!root.ok()) {
        if (errno == ENOENT) return result;
        return folderFailure(maildir, errno);
    }
    std::map<QString, Found> newest;
    for (const char* sub : {"new", "cur"}) {
        const QString folderPath = maildir + u'/' + QLatin1String(sub);
        const int fd = ::openat(root.get(), sub, kFolderFlags | O_NONBLOCK);
        if (fd < 0) {
            if (errno != ENOENT) result.skipped.append(skipLine(folderPath, errno == ELOOP || errno == ENOTDIR
                                                                                ? QStringLiteral("フォルダではないか、リンクです")
                                                                                : SystemErrorText(errno)));
            continue;
        }
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            result.skipped.append(skipLine(folderPath, SystemErrorText(errno)));
            ::close(fd);
            continue;
        }
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..") continue;
            const QString path = folderPath + u'/' + QFile::decodeName(name);
            Found found;
            found.file.id = idOf(name);
            found.file.path = path;
            if (found.file.id.isEmpty()) {
                result.skipped.append(skipLine(path, QStringLiteral("下書きの名前ではありません")));
                continue;
            }
            if (const auto refused = readEntry(::dirfd(dir), entry->d_name, found)) {
                result.skipped.append(skipLine(path, *refused));
                continue;
            }
            // Two files of one draft: a save cut short before it removed the
            // older. The newer is the draft.
            const auto at = newest.find(found.file.id);
            if (at == newest.end()) newest.emplace(found.file.id, std::move(found));
            else if (newer(found.modified, at->second.modified)) at->second = std::move(found);
        }
        ::closedir(dir);
    }
    std::vector<Found> all;
    for (auto& [id, found] : newest) all.push_back(std::move(found));
    std::sort(all.begin(), all.end(), [](const Found& a, const Found& b) {
        if (a.modified.tv_sec != b.modified.tv_sec || a.modified.tv_nsec != b.modified.tv_nsec) return newer(a.modified, b.modified);
        return a.file.path > b.file.path;
    });
    for (Found& found : all) result.files.push_back(std::move(found.file));
    std::sort(result.skipped.begin(), result.skipped.end());
    return result;
}

}  // namespace lumopet
