#pragma once
// The file-open dialog of the windows. Tests put a chooser in place of the
// dialog, as they do for the message boxes.

#include <QString>

#include <functional>

class QWidget;

namespace lumopet {

struct OpenFileRequest {
    QString title;
    QString folder;  // where the dialog opens
};

// Returns the chosen file's path, or an empty text when the user cancelled.
using OpenFileChooser = std::function<QString(const OpenFileRequest&)>;

// An empty chooser brings back the real dialog.
void SetOpenFileChooser(OpenFileChooser chooser);

QString ChooseFileToOpen(QWidget* parent, const OpenFileRequest& request);

}  // namespace lumopet
