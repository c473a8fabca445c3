#include "mail/split_message.h"

#include "mail/gmime_handles.h"
#include "store/partial_messages.h"

#include <algorithm>

namespace lumopet::mail {
namespace {

// Where the body starts: after the first empty line; -1 when there is
// none.
qsizetype bodyStart(QByteArrayView message) {
    qsizetype lineStart = 0;
    while (lineStart < message.size()) {
        const qsizetype end = message.indexOf('\n', lineStart);
        const qsizetype lineEnd = end < 0 ? message.size() : end;
        const QByteArrayView line = message.sliced(lineStart, lineEnd - lineStart);
        if (line.isEmpty() || line == "\r") return end < 0 ? message.size() : end + 1;
        if (end < 0) return -1;
        lineStart = end + 1;
    }
    return -1;
}

// The header's fields, each with its folded lines and line ends as they
// came.
std::vector<QByteArrayView> headerFields(QByteArrayView header) {
    std::vector<QByteArrayView> fields;
    qsizetype start = 0;
    qsizetype pos = 0;
    while (pos < header.size()) {
        qsizetype end = header.indexOf('\n', pos);
        end = end < 0 ? header.size() : end + 1;
        const bool continuation = header[pos] == ' ' || header[pos] == '\t';
        if (!continuation && pos > start) {
            fields.push_back(header.sliced(start, pos - start));
            start = pos;
        }
        pos = end;
    }
    if (pos > start) fields.push_back(header.sliced(start, pos - start));
    return fields;
}

QByteArray fieldName(QByteArrayView field) {
    const qsizetype colon = field.indexOf(':');
    return (colon < 0 ? field : field.first(colon)).trimmed().toByteArray().toLower();
}

// RFC 2046: the fields the joined message takes from its own
// header rather than from the first part's.
bool comesFromJoinedMessage(QByteArrayView field) {
    const QByteArray name = fieldName(field);
    return name.startsWith("content-") || name == "subject" || name == "message-id" || name == "encrypted" ||
           name == "mime-version";
}

QByteArray unfolded(QByteArrayView field) {
    QByteArray value = field.sliced(field.indexOf(':') + 1).toByteArray();
    value.replace("\r\n", "").replace('\n', "");
    return value.trimmed();
}

// Whether the text holds the word (given in small letters), in any case.
bool containsCaseless(QByteArrayView text, QByteArrayView word) {
    return std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
           }) != text.end();
}

std::optional<int> positiveNumber(const char* text) {
    if (!text) return std::nullopt;
    bool ok = false;
    const int value = QByteArray(text).trimmed().toInt(&ok);
    if (!ok || value < 1) return std::nullopt;
    return value;
}

}  // namespace

std::optional<SplitPart> SplitPartOf(QByteArrayView source) {
    const qsizetype body = bodyStart(source);
    if (body < 0) return std::nullopt;
    // A part's Content-Type says "partial" in its own letters: a header
    // without the word is no part, and every received message is asked.
    if (!containsCaseless(source.first(body), "partial")) return std::nullopt;
    QByteArray contentType;
    for (const QByteArrayView field : headerFields(source.first(body))) {
        if (fieldName(field) == "content-type") contentType = unfolded(field);
    }
    if (contentType.isEmpty()) return std::nullopt;
    const GObjectPtr<GMimeContentType> type(g_mime_content_type_parse(nullptr, contentType.constData()));
    if (!type || !g_mime_content_type_is_type(type.get(), "message", "partial")) return std::nullopt;

    const char* id = g_mime_content_type_get_parameter(type.get(), "id");
    const std::optional<int> number = positiveNumber(g_mime_content_type_get_parameter(type.get(), "number"));
    const char* totalText = g_mime_content_type_get_parameter(type.get(), "total");
    const std::optional<int> total = positiveNumber(totalText);
    if (!id || !*id || !number || *number > kMaxSplitParts) return std::nullopt;
    if (totalText && (!total || *total < 2 || *total > kMaxSplitParts || *total < *number)) return std::nullopt;
    return SplitPart{QString::fromUtf8(id), *number, total.value_or(0)};
}

QByteArray JoinSplitParts(const std::vector<QByteArray>& parts) {
    if (parts.empty()) return {};
    qsizetype size = 0;
    for (const QByteArray& part : parts) size += part.size();
    QByteArray joined;
    joined.reserve(size);
    for (const QByteArray& part : parts) {
        const qsizetype body = bodyStart(part);
        if (body >= 0) joined += QByteArrayView(part).sliced(body);
    }

    const QByteArrayView first(parts.front());
    const qsizetype firstBody = bodyStart(first);
    const qsizetype ownBody = bodyStart(joined);
    const QByteArrayView own = QByteArrayView(joined).first(ownBody < 0 ? joined.size() : ownBody);
    QByteArray header;
    for (const QByteArrayView field : headerFields(first.first(std::max<qsizetype>(firstBody, 0)))) {
        if (!field.trimmed().isEmpty() && !comesFromJoinedMessage(field)) header += field;
    }
    for (const QByteArrayView field : headerFields(own)) {
        if (!field.trimmed().isEmpty() && comesFromJoinedMessage(field)) header += field;
    }
    if (!header.endsWith('\n')) header += "\r\n";
    header += "\r\n";
    // The joined message's own header is replaced; its body stays in place.
    joined.replace(0, ownBody < 0 ? joined.size() : ownBody, header);
    return joined;
}

}  // namespace lumopet::mail
