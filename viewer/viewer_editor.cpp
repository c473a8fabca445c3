#include "viewer/viewer_editor.h"

#include <QWidget>

namespace lumopet {

ViewerEditor::ViewerEditor(WindowDirectory&, QWidget* window, QTextEdit*) : QObject(window) {}

void ViewerEditor::ClearEditorSettings() {}

}  // namespace lumopet
