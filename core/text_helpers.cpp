#include "core/text_helpers.h"

namespace lumopet {

namespace {

// True when every line end is CR LF already, as in nearly all mail: then
// the text is copied whole instead of line by line.
bool endsEveryLineWithCrLf(QStringView text) {
    const char16_t* const units = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (units[i] > u'\r') continue;
        if (units[i] == u'\n') return false;
        if (units[i] == u'\r') {
            if (i + 1 == size || units[i + 1] != u'\n') return false;
            ++i;
        }
    }
    return true;
}

}  // namespace

QString WithCrLf(QStringView text) {
    if (endsEveryLineWithCrLf(text)) return text.toString();
    // Copied in runs between line ends: mail bodies are long and their line
    // ends few, and a character at a time cost more than the rest of a
    // message's handling.
    QString result;
    result.reserve(text.size() + text.size() / 16);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n') continue;
        result.append(text.sliced(runStart, i - runStart));
        result.append(u"\r\n");
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        runStart = i + 1;
    }
    result.append(text.sliced(runStart));
    return result;
}

QStringView WithoutBlanksAround(QStringView text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == u' ') ++begin;
    while (end > begin && text[end - 1] == u' ') --end;
    return text.sliced(begin, end - begin);
}

}  // namespace lumopet
