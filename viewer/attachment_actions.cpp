#include "viewer/attachment_actions.h"

#include "core/safe_file.h"
#include "core/unique_fd.h"
#include "mail/attachment_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

QString systemError() { return qt_error_string(errno); }

// Types a desktop may run rather than show. Windows' own (a sender often
// has them in mind), the scripts a Linux desktop runs, and launchers.
const QSet<QString>& runnableTypes() {
    static const QSet<QString> types{
        QStringLiteral("exe"), QStringLiteral("bat"),  QStringLiteral("cmd"),     QStringLiteral("com"),
        QStringLiteral("scr"), QStringLiteral("js"),   QStringLiteral("vbs"),     QStringLiteral("jar"),
        QStringLiteral("sh"),  QStringLiteral("desktop"), QStringLiteral("lnk"),  QStringLiteral("msi"),
        QStringLiteral("pif"), QStringLiteral("vbe"),  QStringLiteral("jse"),     QStringLiteral("wsf"),
        QStringLiteral("ps1"), QStringLiteral("hta"),  QStringLiteral("cpl"),     QStringLiteral("appimage"),
        QStringLiteral("run"), QStringLiteral("bin"),  QStringLiteral("py"),      QStringLiteral("pl")};
    return types;
}

// A new folder of its own inside the private one, made exclusively.
Result<QString> newCopyFolder(const QString& privateFolder) {
    if (!QDir().mkpath(privateFolder)) return Failure{QStringLiteral("「%1」を作れません。").arg(privateFolder)};
    ::chmod(QFile::encodeName(privateFolder).constData(), 0700);
    QByteArray pattern = QFile::encodeName(privateFolder + QStringLiteral("/XXXXXX"));
    if (!::mkdtemp(pattern.data())) return Failure{systemError()};
    return QFile::decodeName(pattern);
}

Status writePart(const QString& copyPath, const mail::ViewedPart& part, int fd) {
    Status written = mail::WritePartContent(copyPath, part.path, fd);
    if (written && ::fsync(fd) != 0) written = Failure{systemError()};
    return written;
}

}  // namespace

QString AttachmentDiskName(const mail::ViewedPart& part, int index) {
    return mail::SafeAttachmentFileName(part.fileName, index);
}

Result<AttachmentFile> AttachmentFileToOpen(const QString& copyPath, const mail::ViewedPart& part, int index,
                                            const QString& attachmentFolder, const QString& privateFolder) {
    const Result<QString> folder = newCopyFolder(privateFolder);
    if (!folder) return Failure{folder.error()};
    const QString path = QDir(folder.value()).filePath(AttachmentDiskName(part, index));
    UniqueFd file(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.ok()) return Failure{systemError()};
    if (const Status written = writePart(copyPath, part, file.get()); !written) {
        ::unlink(QFile::encodeName(path).constData());
        return Failure{written.error()};
    }
    // The check's own file, when the folder still holds these very bytes:
    // the user finds it where it always was, and changes made to it there
    // are what opens.
    if (const auto saved = mail::FindSavedAttachment(attachmentFolder, AttachmentDiskName(part, index), file.get())) {
        file.close();
        ::unlink(QFile::encodeName(path).constData());
        ::rmdir(QFile::encodeName(folder.value()).constData());
        return AttachmentFile{*saved, true};
    }
    // Read-only: the copy is the message's, not a document to edit.
    ::fchmod(file.get(), 0400);
    return AttachmentFile{path, false};
}

bool MayRunAsProgram(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot >= 0 && runnableTypes().contains(name.sliced(dot + 1).toLower())) return true;
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH));
}

Status SaveAttachmentCopy(const QString& copyPath, const mail::ViewedPart& part, const QString& target) {
    struct stat there {};
    if (::lstat(QFile::encodeName(target).constData(), &there) == 0 && !S_ISREG(there.st_mode))
        return Failure{QStringLiteral("「%1」はファイルではないため、保存できません。").arg(target)};
    const std::optional<CreatedFile> made = CreateRewriteFile(target);
    if (!made) return Failure{systemError()};
    UniqueFd file(made->fd);
    // A document of the user's now, with the mode any new file of theirs
    // gets, not the private mode of a rewrite.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(file.get(), 0666 & ~mask);
    Status written = writePart(copyPath, part, file.get());
    if (written && !file.close()) written = Failure{systemError()};
    if (written && ::rename(QFile::encodeName(made->path).constData(), QFile::encodeName(target).constData()) != 0)
        written = Failure{systemError()};
    if (!written) ::unlink(QFile::encodeName(made->path).constData());
    return written;
}

}  // namespace lumopet
