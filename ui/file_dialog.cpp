#include "ui/file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace lumopet {
namespace {

OpenFileChooser& openChooser() {
    static OpenFileChooser installed;
    return installed;
}

SaveFileChooser& saveChooser() {
    static SaveFileChooser installed;
    return installed;
}

}  // namespace

void SetOpenFileChooser(OpenFileChooser replacement) { openChooser() = std::move(replacement); }

QString ChooseAttachment(QWidget* parent) {
    static QString lastFolder = QDir::currentPath();
    const QString path = ChooseFileToOpen(parent, {QStringLiteral("添付するファイルを選んでください"), lastFolder});
    if (!path.isEmpty()) lastFolder = QFileInfo(path).absolutePath();
    return path;
}

QString ChooseFileToOpen(QWidget* parent, const OpenFileRequest& request) {
    if (openChooser()) return openChooser()(request);
    // No read-only box: the file is only read.
    return QFileDialog::getOpenFileName(parent, request.title, request.folder, request.filter, nullptr,
                                        QFileDialog::ReadOnly);
}

namespace {

OpenFilesChooser& openFilesChooser() {
    static OpenFilesChooser installed;
    return installed;
}

FolderChooser& folderChooser() {
    static FolderChooser installed;
    return installed;
}

}  // namespace

void SetOpenFilesChooser(OpenFilesChooser replacement) { openFilesChooser() = std::move(replacement); }

QStringList ChooseFilesToOpen(QWidget* parent, const OpenFileRequest& request) {
    if (openFilesChooser()) return openFilesChooser()(request);
    return QFileDialog::getOpenFileNames(parent, request.title, request.folder, request.filter, nullptr,
                                         QFileDialog::ReadOnly);
}

void SetFolderChooser(FolderChooser replacement) { folderChooser() = std::move(replacement); }

QString ChooseFolder(QWidget* parent, const OpenFileRequest& request) {
    if (folderChooser()) return folderChooser()(request);
    return QFileDialog::getExistingDirectory(parent, request.title, request.folder, QFileDialog::ShowDirsOnly);
}

void SetSaveFileChooser(SaveFileChooser replacement) { saveChooser() = std::move(replacement); }

QString ChooseFileToSave(QWidget* parent, const SaveFileRequest& request) {
    if (saveChooser()) return saveChooser()(request);
    // The overwrite question is on by default.
    return QFileDialog::getSaveFileName(parent, request.title, request.folder, request.filter);
}

}  // namespace lumopet
