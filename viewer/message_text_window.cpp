#include "viewer/message_text_window.h"

#include "ui/window_helpers.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace lumopet {

QWidget* ShowMessageTextWindow(QWidget* viewer, const QString& objectName, const QString& title, const QString& text) {
    auto* window = new QWidget(viewer, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setObjectName(objectName);
    window->setWindowTitle(title);
    auto* box = new QPlainTextEdit(window);
    box->setReadOnly(true);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Columns line up in a source; the Japanese font fills in what the
    // fixed one lacks.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamilies({font.family(), JapaneseFont(9).family()});
    box->setFont(font);
    box->setPlainText(text);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box);
    window->resize(720, 520);
    window->show();
    return window;
}

QPlainTextEdit* MessageTextBox(QWidget* window) { return window ? window->findChild<QPlainTextEdit*>() : nullptr; }

}  // namespace lumopet
