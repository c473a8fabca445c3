#include "core/program_paths.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <filesystem>

namespace lumopet {

ProgramPaths::ProgramPaths(QString programFolder)
    : folder_(QDir::cleanPath(QDir(programFolder).absolutePath())) {}

ProgramPaths ProgramPaths::fromEnvironment() {
    const QString home = qEnvironmentVariable("LUMOPET_HOME");
    if (!home.isEmpty()) return ProgramPaths(home);
    // /proc/self/exe works before (and without) a QCoreApplication.
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return ProgramPaths(QDir::currentPath());
    return ProgramPaths(QString::fromStdString(exe.parent_path().string()));
}

QString ProgramPaths::path(const QString& relative) const {
    QStringList parts = QString(relative).replace(u'\\', u'/').split(u'/', Qt::SkipEmptyParts);
    for (QString& part : parts) {
        if (part.compare(files::DataFolder, Qt::CaseInsensitive) == 0) part = files::DataFolder;
    }
    parts.prepend(folder_);
    return parts.join(u'/');
}

bool ProgramPaths::createFolders() const {
    QDir root(folder_);
    return root.mkpath(files::DataFolder) && root.mkpath(files::AttachmentFolder);
}

}  // namespace lumopet
