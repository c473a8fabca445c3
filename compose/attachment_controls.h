#pragma once
// The attachment row that the compose and the reply window share: "添付"
// chooses the first file, "追加" adds more and shows the list, "取り消し"
// takes them all away. The paths go into one box, separated by ",".

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
    void SetAll(const QStringList& files) const;
};

}  // namespace lumopet
