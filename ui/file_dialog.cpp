#include "ui/file_dialog.h"

#include <QFileDialog>

namespace lumopet {
namespace {

OpenFileChooser& chooser() {
    static OpenFileChooser installed;
    return installed;
}

}  // namespace

void SetOpenFileChooser(OpenFileChooser replacement) { chooser() = std::move(replacement); }

QString ChooseFileToOpen(QWidget* parent, const OpenFileRequest& request) {
    if (chooser()) return chooser()(request);
    // No read-only box: the file is only read.
    return QFileDialog::getOpenFileName(parent, request.title, request.folder, QString(), nullptr,
                                        QFileDialog::ReadOnly);
}

}  // namespace lumopet
