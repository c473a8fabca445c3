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

void SetSaveFileChooser(SaveFileChooser replacement) { saveChooser() = std::move(replacement); }

QString ChooseFileToSave(QWidget* parent, const SaveFileRequest& request) {
    if (saveChooser()) return saveChooser()(request);
    // The overwrite question is on by default.
    return QFileDialog::getSaveFileName(parent, request.title, request.folder, request.filter);
}

}  // namespace lumopet
