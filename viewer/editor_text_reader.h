#pragma once
// A large text file for the editor, read and decoded a piece at a time, so
// that neither the file's bytes nor its whole decoded text are ever held
// beside the editor's own copy, and so that the work can run off the
// window thread while the window shows what has come so far.
//
// The pieces are the editor's text: CP932 decoded, every line followed by a
// break, as a small file is opened. The breaks are not all alike. Every
// 64th is a paragraph break and the others are line separators (U+2028):
// the editor's document then keeps one block for 64 lines instead of one a
// line, which for a log of short lines is most of its memory and of the
// time it takes to fill. A plain-text document gives both as "\n", so the
// text the editor saves, searches, copies and prints is the same.

#include "core/result.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>
#include <optional>

namespace lumopet {

// A file larger than one piece is opened piece by piece.
inline constexpr qsizetype kTextPieceBytes = qsizetype{1} << 20;
inline constexpr int kLinesPerTextBlock = 64;

// Where a piece of the bytes ends: after the last line break within the
// first `limit` bytes; in a line longer than that, at the last character
// boundary within them, never between the CR and the LF of a break. The
// bytes start at a character boundary; with `limit` or fewer bytes, all of
// them make the piece.
qsizetype TextPieceEnd(QByteArrayView bytes, qsizetype limit);

// The editor's text of one piece, as above. The last piece of the file
// gets a break after its last line when the file ends without one; any
// piece ends in a paragraph break when it ends in a break at all.
QString TextPieceToEditorText(QByteArrayView bytes, bool lastPiece);

class TextFileReader {
public:
    // Only a regular file is opened, as for a small one.
    static Result<std::unique_ptr<TextFileReader>> Open(const QString& path);

    qint64 size() const { return file_.size(); }
    // The next piece's text; nothing after the last one.
    Result<std::optional<QString>> NextPiece();

private:
    explicit TextFileReader(const QString& path) : file_(path) {}

    QFile file_;
    QByteArray pending_;
    bool atEnd_ = false;
};

}  // namespace lumopet
