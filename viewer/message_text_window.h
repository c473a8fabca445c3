#pragma once
// ヘッダーを表示 and ソースを表示: a message's header fields or its source in
// a read-only window of its own beside the viewer, which it closes with.

#include <QString>

class QPlainTextEdit;
class QWidget;

namespace lumopet {

// The window made; it deletes itself when closed. objectName names it for
// tests ("messageSource", "messageHeaders").
QWidget* ShowMessageTextWindow(QWidget* viewer, const QString& objectName, const QString& title, const QString& text);

// The text box of such a window.
QPlainTextEdit* MessageTextBox(QWidget* window);

}  // namespace lumopet
