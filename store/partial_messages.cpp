#include "store/partial_messages.h"

#include "core/safe_file.h"
#include "core/system_error_text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace lumopet {
namespace {

constexpr qsizetype kReadableNameLength = 40;
const QString kTotalFile = QStringLiteral("total");

QString folderOf(const QString& root, const QString& id) { return root + u'/' + PartialFolderName(id); }

Failure failure(const QString& path, const QString& reason) {
    return Failure{QStringLiteral("分割されたメールの部分を保存するフォルダ「%1」を使えません（%2）。").arg(path, reason)};
}

// Whether path is a real folder (not a link to one); creates it (0700) when
// it is missing and create is set.
Status ensureFolder(const QString& path, bool create) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0) {
        if (errno != ENOENT || !create) return failure(path, SystemErrorText(errno));
        if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
            return failure(path, SystemErrorText(errno));
        if (::lstat(name.constData(), &info) != 0) return failure(path, SystemErrorText(errno));
    }
    if (!S_ISDIR(info.st_mode)) return failure(path, QStringLiteral("フォルダではないか、リンクです"));
    return success();
}

// The part numbers of the files in folder, read from their names.
std::vector<int> numbersIn(const QString& folder) {
    std::vector<int> numbers;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::NoSymLinks)) {
        bool ok = false;
        const int number = name.toInt(&ok);
        if (ok && number >= 1 && number <= kMaxSplitParts && name == QString::number(number)) numbers.push_back(number);
    }
    return numbers;
}

}  // namespace

QString PartialMessagesPath(const ProgramPaths& paths) { return paths.path(QStringLiteral("\\★MAilData\\partial")); }

QString PartialFolderName(const QString& id) {
    const QByteArray hash = QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    QString readable;
    for (const QChar c : id) {
        if (readable.size() >= kReadableNameLength) break;
        if (c.unicode() < 0x80 && (c.isLetterOrNumber() || c == u'-' || c == u'_')) readable += c;
    }
    return QString::fromLatin1(hash) + (readable.isEmpty() ? QString() : u'-' + readable);
}

Status KeepPart(const QString& root, const QString& id, int number, int total, QByteArrayView source) {
    if (number < 1 || number > kMaxSplitParts || total < 0 || total > kMaxSplitParts)
        return Failure{QStringLiteral("分割されたメールの番号 %1/%2 は扱えません。").arg(number).arg(total)};
    if (Status made = ensureFolder(root, true); !made) return made;
    const QString folder = folderOf(root, id);
    if (Status made = ensureFolder(folder, true); !made) return made;
    if (Status written = WriteFileSafely(folder + u'/' + QString::number(number), source, 0600); !written) return written;
    if (total > 0) return WriteFileSafely(folder + u'/' + kTotalFile, QByteArray::number(total), 0600);
    return success();
}

Result<HeldParts> PartsHeld(const QString& root, const QString& id) {
    HeldParts parts;
    const QString folder = folderOf(root, id);
    if (!QFileInfo::exists(folder)) return parts;
    if (Status usable = ensureFolder(folder, false); !usable) return Failure{usable.error()};
    const auto total = ReadFileIfPresent(folder + u'/' + kTotalFile);
    if (!total) return Failure{total.error()};
    if (total.value()) {
        bool ok = false;
        const int value = total.value()->trimmed().toInt(&ok);
        if (ok && value >= 1 && value <= kMaxSplitParts) parts.total = value;
    }
    for (const int number : numbersIn(folder)) {
        if (parts.total > 0 && number > parts.total) continue;
        ++parts.held;
        parts.bytes += QFileInfo(folder + u'/' + QString::number(number)).size();
    }
    return parts;
}

Result<std::vector<QByteArray>> ReadHeldParts(const QString& root, const QString& id, int total) {
    const QString folder = folderOf(root, id);
    if (Status usable = ensureFolder(folder, false); !usable) return Failure{usable.error()};
    std::vector<QByteArray> parts;
    for (int number = 1; number <= total; ++number) {
        const QString path = folder + u'/' + QString::number(number);
        auto read = ReadFileIfPresent(path);
        if (!read) return Failure{read.error()};
        if (!read.value()) return Failure{QStringLiteral("分割されたメールの部分「%1」がありません。").arg(path)};
        parts.push_back(std::move(*read.value()));
    }
    return parts;
}

Status ForgetParts(const QString& root, const QString& id) {
    const QString folder = folderOf(root, id);
    if (!QFileInfo::exists(folder)) return success();
    if (Status usable = ensureFolder(folder, false); !usable) return usable;
    if (!QDir(folder).removeRecursively())
        return failure(folder, QStringLiteral("削除できません"));
    return success();
}

}  // namespace lumopet
