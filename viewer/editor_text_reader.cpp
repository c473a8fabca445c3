#include "viewer/editor_text_reader.h"

#include "core/cp932.h"
#include "core/system_error_text.h"

#include <QFileInfo>

namespace lumopet {
namespace {

Failure cannotRead(const QString& path, const QString& reason) {
    return Failure{QStringLiteral("ファイル「%1」を読み込めません（%2）。").arg(path, reason)};
}

}  // namespace

qsizetype TextPieceEnd(QByteArrayView bytes, qsizetype limit) {
    if (bytes.size() <= limit) return bytes.size();
    // A line break byte is never the second byte of a double-byte
    // character: the last one found ends a line.
    const QByteArrayView head = bytes.first(limit);
    const qsizetype lf = head.lastIndexOf('\n');
    const qsizetype cr = head.lastIndexOf('\r');
    qsizetype end = std::max(lf, cr) + 1;
    if (end == 0) {
        // One long line: the last character boundary, counted from the
        // start, where the bytes begin with a whole character.
        qsizetype i = 0;
        while (i < limit) {
            const qsizetype next = i + (cp932::isLeadByte(static_cast<unsigned char>(bytes[i])) ? 2 : 1);
            if (next > limit) break;
            i = next;
        }
        end = i;
    }
    // A CR LF stays together.
    if (bytes[end - 1] == '\r' && bytes[end] == '\n') ++end;
    return end;
}

QString TextPieceToEditorText(QByteArrayView bytes, bool lastPiece) {
    QString text = cp932::decode(bytes);
    // In place: a CR LF becomes one break, so what is written never
    // overtakes what is read.
    QChar* out = text.data();
    const QChar* in = text.constData();
    const QChar* const end = in + text.size();
    qsizetype written = 0;
    int lines = 0;
    for (; in != end; ++in) {
        QChar c = *in;
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && in + 1 != end && in[1] == u'\n') ++in;
            c = ++lines % kLinesPerTextBlock == 0 ? QChar(u'\n') : QChar(QChar::LineSeparator);
        }
        out[written++] = c;
    }
    text.truncate(written);
    if (lastPiece && !text.isEmpty() && text.back() != u'\n' && text.back() != QChar(QChar::LineSeparator))
        text.append(u'\n');
    if (!text.isEmpty() && text.back() == QChar(QChar::LineSeparator)) text.back() = u'\n';
    return text;
}

Result<std::unique_ptr<TextFileReader>> TextFileReader::Open(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return cannotRead(path, QStringLiteral("ファイルがありません"));
    if (!info.isFile()) return cannotRead(path, QStringLiteral("普通のファイルではありません"));
    std::unique_ptr<TextFileReader> reader(new TextFileReader(path));
    if (!reader->file_.open(QIODevice::ReadOnly)) return cannotRead(path, SystemErrorText(reader->file_.errorString()));
    return reader;
}

Result<std::optional<QString>> TextFileReader::NextPiece() {
    // One byte more than a piece: it tells whether a CR at the piece's end
    // is followed by its LF.
    while (!atEnd_ && pending_.size() <= kTextPieceBytes) {
        const QByteArray more = file_.read(kTextPieceBytes + 1 - pending_.size());
        if (file_.error() != QFileDevice::NoError)
            return cannotRead(file_.fileName(), SystemErrorText(file_.errorString()));
        if (more.isEmpty()) atEnd_ = true;
        pending_ += more;
    }
    if (pending_.isEmpty()) return std::optional<QString>();
    const qsizetype end = TextPieceEnd(pending_, kTextPieceBytes);
    const bool last = atEnd_ && end == pending_.size();
    QString text = TextPieceToEditorText(QByteArrayView(pending_).first(end), last);
    pending_.remove(0, end);
    return std::optional<QString>(std::move(text));
}

}  // namespace lumopet
