#pragma once
// Boxes that take at most so many characters. Once a box is full, a typed
// key adds nothing and leaves the text and the caret where they are; a
// paste or a drop keeps what still fits, and an input method's text the
// same. The rule is one for every such box of the program, whatever kind
// of box it is.

#include <QPlainTextEdit>
#include <QString>

class QLineEdit;

namespace lumopet {

// What of inserted goes into a box of at most limit characters that holds
// kept characters besides the selection the insertion replaces. A character
// of two UTF-16 units (outside the BMP) is never split.
QString FittingPart(const QString& inserted, qsizetype kept, qsizetype limit);

// A one-line box: Qt's own maximum length does what the rule says.
void LimitTextLength(QLineEdit* box, int limit);

// A multi-line box (QPlainTextEdit) with the same rule. Text set from the
// program (setPlainText) is cut to the limit too.
class LimitedTextEdit : public QPlainTextEdit {
public:
    LimitedTextEdit(int limit, QWidget* parent = nullptr);
    int maxLength() const { return limit_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // Characters the box holds besides its selection.
    qsizetype keptLength() const;
    void cutToLimit();

    int limit_;
    bool cutting_ = false;
};

}  // namespace lumopet
