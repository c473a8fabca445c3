#pragma once
// The file-open and file-save dialogs of the windows. Tests put a chooser
// in place of each dialog, as they do for the message boxes.

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace lumopet {

struct OpenFileRequest {
    QString title;
    QString folder;     // where the dialog opens
    QString filter{};   // Qt's form, "txtファイル (*.txt *.ini)"; empty: every file
};

// Returns the chosen file's path, or an empty text when the user cancelled.
using OpenFileChooser = std::function<QString(const OpenFileRequest&)>;

// An empty chooser brings back the real dialog.
void SetOpenFileChooser(OpenFileChooser chooser);

QString ChooseFileToOpen(QWidget* parent, const OpenFileRequest& request);

// Several files at once (the open dialog with more than one chosen), in
// the order the dialog gives them; empty when the user cancelled.
using OpenFilesChooser = std::function<QStringList(const OpenFileRequest&)>;
void SetOpenFilesChooser(OpenFilesChooser chooser);
QStringList ChooseFilesToOpen(QWidget* parent, const OpenFileRequest& request);

// A folder (the filter is not used); empty when the user cancelled.
using FolderChooser = std::function<QString(const OpenFileRequest&)>;
void SetFolderChooser(FolderChooser chooser);
QString ChooseFolder(QWidget* parent, const OpenFileRequest& request);

// A file to attach to a message. The dialog opens where the last attachment
// came from: the next one most often comes from the same place.
QString ChooseAttachment(QWidget* parent);

// The save dialog: the same, for a file that may not exist yet. The dialog
// asks before an existing file is chosen for overwriting.
struct SaveFileRequest {
    QString title;
    QString folder;
    QString filter{};
};

using SaveFileChooser = std::function<QString(const SaveFileRequest&)>;

void SetSaveFileChooser(SaveFileChooser chooser);

QString ChooseFileToSave(QWidget* parent, const SaveFileRequest& request);

}  // namespace lumopet
