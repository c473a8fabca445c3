#pragma once
// The attachment row that the compose and the reply window share: "添付"
// chooses the first file, "追加" adds more and shows the list, "取り消し"
// takes them all away. The box shows the paths separated by ",", as it
// always has; the files themselves are kept as a list beside it, so that a
// file whose name holds a "," is attached whole.

#include <QStringList>

class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace lumopet {

struct AttachmentControls {
    QWidget* window;
    QPushButton* attach;  // AttachCommand
    QPushButton* add;     // Command9
    QPushButton* remove;  // Command10
    QLineEdit* paths;     // AttachText
    QListWidget* list;    // List2
    QStringList* files;   // the window's list of the attached files

    // "添付": the first file. The button stays disabled afterwards, also when
    // the dialog was cancelled; "取り消し" is enabled again, so that files
    // attached a second time can still be taken away.
    void AttachFirst() const;
    // "追加": shows the list; a further file when there is a first one.
    void AddAnother() const;
    // "取り消し": no attachments, only "添付" enabled.
    void RemoveAll() const;
    // The files of a draft: as if each had been chosen in turn. None
    // leaves the buttons as they are.
    void SetAll(const QStringList& chosen) const;
};

// The files a send attaches: the chosen ones while the box shows them
// unchanged; paths the user typed or edited into the box are read from it,
// split at ",".
QStringList AttachedFiles(const QString& boxText, const QStringList& chosen);

}  // namespace lumopet
