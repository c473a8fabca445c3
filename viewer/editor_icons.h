#pragma once
// The pictures of the editor's toolbar buttons: the desktop's icon theme
// when it has one for the button, else our own, drawn here so that they
// stay sharp at every size.

#include <QIcon>
#include <QString>

namespace lumopet {

// key: the button's key ("New", "Open", "Save", "Print", "Cut", "Copy",
// "Paste", "Bold", "Italic", "Underline", "Search").
QIcon EditorIcon(const QString& key);

// Our own picture of the button, without the theme.
QIcon DrawnEditorIcon(const QString& key);

}  // namespace lumopet
