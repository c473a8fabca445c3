#include "core/program_paths.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <filesystem>

namespace lumopet {

ProgramPaths::ProgramPaths(QString programFolder)
    : folder_(QDir::cleanPath(QDir(programFolder).absolutePath())) {}

QString ProgramPaths::ChooseFolder(const FolderChoice& choice) {
    if (!choice.lumopetHome.isEmpty()) return choice.lumopetHome;
    // An installed executable sits in a folder nobody may write to (and root
    // may, which must not fill /usr/bin with mail): the files it installed
    // beside it say what it is, not whether the folder is writable.
    const bool installed = !choice.executableFolder.isEmpty() &&
                           ShippedDataFolder(choice.executableFolder) != choice.executableFolder;
    if (!installed) return choice.executableFolder;
    // A relative XDG_DATA_HOME means nothing (the XDG rules say to ignore
    // it): the usual ~/.local/share stands in for it.
    const QString dataHome = QDir::isAbsolutePath(choice.xdgDataHome)
                                 ? choice.xdgDataHome
                                 : QDir(choice.home.isEmpty() ? QDir::homePath() : choice.home).filePath(QStringLiteral(".local/share"));
    return QDir(dataHome).filePath(QStringLiteral("lumopet"));
}

namespace {

QString executableFolder() {
    // /proc/self/exe works before (and without) a QCoreApplication.
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? QDir::currentPath() : QString::fromStdString(exe.parent_path().string());
}

}  // namespace

ProgramPaths ProgramPaths::fromEnvironment() {
    FolderChoice choice{qEnvironmentVariable("LUMOPET_HOME"), executableFolder(), qEnvironmentVariable("XDG_DATA_HOME"),
                        qEnvironmentVariable("HOME")};
    return ProgramPaths(ChooseFolder(choice));
}

QString ProgramPaths::ShippedDataFolder(const QString& executableFolder) {
    const QString installed = QDir::cleanPath(QDir(executableFolder).filePath(InstalledDataFolder));
    return QFileInfo(installed).isDir() ? installed : executableFolder;
}

QString ProgramPaths::ShippedDataFolder() { return ShippedDataFolder(executableFolder()); }

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
