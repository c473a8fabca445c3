#pragma once
// The editor side of the history viewer: its two menus and its toolbar,
// and what they do to the one text box that also shows the messages.

#include <QObject>

class QMenuBar;
class QTextEdit;
class QToolBar;
class QWidget;

namespace lumopet {

class WindowDirectory;

class ViewerEditor : public QObject {
    Q_OBJECT
public:
    // window: the viewer; rtfEd: its text box. The menus and the toolbar
    // are made here, for the viewer to place.
    ViewerEditor(WindowDirectory& windows, QWidget* window, QTextEdit* rtfEd);

    QMenuBar* menuBar() const { return menuBar_; }
    QToolBar* toolBar() const { return toolBar_; }

    // Run when the viewer is closed with its close box.
    void ClearEditorSettings();

private:
    QMenuBar* menuBar_ = nullptr;
    QToolBar* toolBar_ = nullptr;
};

}  // namespace lumopet
