#include "ui/limited_text_box.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>

namespace lumopet {

QString FittingPart(const QString& inserted, qsizetype kept, qsizetype limit) {
    const qsizetype room = std::max<qsizetype>(0, limit - kept);
    if (inserted.size() <= room) return inserted;
    qsizetype n = room;
    if (n > 0 && inserted.at(n - 1).isHighSurrogate()) --n;
    return inserted.left(n);
}

void LimitTextLength(QLineEdit* box, int limit) { box->setMaxLength(limit); }

LimitedTextEdit::LimitedTextEdit(int limit, QWidget* parent) : QPlainTextEdit(parent), limit_(limit) {
    // What the program puts in with setPlainText comes past the key and
    // paste handlers: cut it here. Typing never gets this far.
    connect(this, &QPlainTextEdit::textChanged, this, &LimitedTextEdit::cutToLimit);
}

qsizetype LimitedTextEdit::keptLength() const {
    const QTextCursor cursor = textCursor();
    // characterCount counts the separator after the last paragraph.
    return document()->characterCount() - 1 - (cursor.selectionEnd() - cursor.selectionStart());
}

void LimitedTextEdit::cutToLimit() {
    if (cutting_ || document()->characterCount() - 1 <= limit_) return;
    cutting_ = true;
    setPlainText(FittingPart(toPlainText(), 0, limit_));
    moveCursor(QTextCursor::End);
    cutting_ = false;
}

void LimitedTextEdit::keyPressEvent(QKeyEvent* event) {
    QString typed;
    // Ctrl with a letter is a command (select all, copy, paste), whatever
    // text the key carries; the box itself treats it so.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    if (modifiers == Qt::ControlModifier || modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        typed = QStringLiteral("\n");
    } else if (const QString text = event->text(); !text.isEmpty()) {
        const QChar first = text.front();
        if (first.isPrint() || (first == u'\t' && !tabChangesFocus())) typed = text;
    }
    if (!typed.isEmpty() && !isReadOnly()) {
        const QString fitting = FittingPart(typed, keptLength(), limit_);
        if (fitting.size() < typed.size()) {
            // Full: the key adds nothing, and the text and the caret stay.
            if (!fitting.isEmpty()) insertPlainText(fitting);
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

void LimitedTextEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (!commit.isEmpty() && !isReadOnly()) {
        const qsizetype replaced = std::max(0, event->replacementLength());
        const QString fitting = FittingPart(commit, keptLength() - replaced, limit_);
        if (fitting.size() < commit.size()) {
            QInputMethodEvent cut(event->preeditString(), event->attributes());
            cut.setCommitString(fitting, event->replacementStart(), event->replacementLength());
            QPlainTextEdit::inputMethodEvent(&cut);
            event->accept();
            return;
        }
    }
    QPlainTextEdit::inputMethodEvent(event);
}

void LimitedTextEdit::insertFromMimeData(const QMimeData* source) {
    if (!source || isReadOnly()) return;
    QString text = source->text();
    if (text.isEmpty()) return;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor cursor = textCursor();
    cursor.insertText(FittingPart(text, keptLength(), limit_));
    setTextCursor(cursor);
    ensureCursorVisible();
}

}  // namespace lumopet
