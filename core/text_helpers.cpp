#include "core/text_helpers.h"

namespace lumopet {

QString WithCrLf(QStringView text) {
    QString result;
    result.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            result += u"\r\n";
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        } else if (c == u'\n') {
            result += u"\r\n";
        } else {
            result += c;
        }
    }
    return result;
}

QStringView WithoutBlanksAround(QStringView text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == u' ') ++begin;
    while (end > begin && text[end - 1] == u' ') --end;
    return text.sliced(begin, end - begin);
}

}  // namespace lumopet
