#include "viewer/editor_logic.h"

#include "core/cp932.h"
#include "core/text_helpers.h"

#include <QDir>

namespace lumopet {

int FindInText(QStringView text, QStringView what, int start) {
    if (what.isEmpty() || start < 1 || start > text.size()) return 0;
    const qsizetype found = text.indexOf(what, start - 1, Qt::CaseSensitive);
    return found < 0 ? 0 : static_cast<int>(found) + 1;
}

QString TextFileToEditorText(QByteArrayView bytes) {
    // CP932 trail bytes are never CR or LF, so the lines can be found after
    // decoding as well as before.
    const QString text = cp932::decode(bytes);
    QString result;
    result.reserve(text.size() + text.size() / 16 + 2);
    qsizetype lineStart = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n') {
            ++i;
            continue;
        }
        result += QStringView(text).sliced(lineStart, i - lineStart);
        result += u"\r\n";
        i += (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ? 2 : 1;
        lineStart = i;
    }
    // The last line, when the file does not end in a line break.
    if (lineStart < text.size()) {
        result += QStringView(text).sliced(lineStart);
        result += u"\r\n";
    }
    return result;
}

QByteArray EditorTextToTextFile(QStringView text) { return EditorTextToDocument(text) + "\r\n"; }

QByteArray EditorTextToDocument(QStringView text) { return cp932::encode(WithCrLf(text)); }

QString DocumentToEditorText(QByteArrayView bytes) { return cp932::decode(bytes); }

int CharactersLostInEncoding(QStringView text, QByteArrayView encoded) {
    return static_cast<int>(encoded.count('?') - text.count(u'?'));
}

bool ClickStyleToggle(std::int16_t& counter) {
    if (counter % 2 == 0) {
        counter = 1;
        return true;
    }
    counter = 2;
    return false;
}

QString FolderOfPath(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.left(slash + 1);
}

QString NewDocumentPath(const QString& currentDocument, const QString& programFolder) {
    if (currentDocument.isEmpty()) return QDir(programFolder).filePath(kNewDocumentName);
    return FolderOfPath(currentDocument) + kNewDocumentName;
}

SaveBeforeNew SaveBeforeNewRule(bool documentDirty, const QString& autoSaveChoice) {
    if (!documentDirty) return SaveBeforeNew::Nothing;
    return autoSaveChoice == kAutoSaveOff ? SaveBeforeNew::Ask : SaveBeforeNew::Quietly;
}

QString PasteText(QStringView clipboardText) {
    qsizetype begin = 0, end = clipboardText.size();
    while (begin < end && clipboardText[begin] == u' ') ++begin;
    while (end > begin && clipboardText[end - 1] == u' ') --end;
    return clipboardText.sliced(begin, end - begin).toString();
}

}  // namespace lumopet
