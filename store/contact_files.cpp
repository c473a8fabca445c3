#include "store/contact_files.h"

#include "core/cp932.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <optional>

namespace lumopet {
namespace {

constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF");

std::optional<QString> strictUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) return std::nullopt;
    return text;
}

// UTF-8 when the bytes are UTF-8; otherwise they came from a Japanese
// Windows or a phone, and are CP932.
QString utf8OrCp932(QByteArrayView bytes) {
    if (std::optional<QString> text = strictUtf8(bytes)) return *text;
    return cp932::decode(bytes);
}

// A whole file's text: a byte-order mark says what it is; without one,
// UTF-8 or CP932 as above.
QString fileText(QByteArrayView bytes) {
    if (bytes.startsWith(kUtf8Bom)) return utf8OrCp932(bytes.sliced(kUtf8Bom.size()));
    if (bytes.startsWith("\xFF\xFE")) return QStringDecoder(QStringConverter::Utf16LE).decode(bytes.sliced(2));
    if (bytes.startsWith("\xFE\xFF")) return QStringDecoder(QStringConverter::Utf16BE).decode(bytes.sliced(2));
    return utf8OrCp932(bytes);
}

// Hiragana, katakana (both widths) or kanji: a name to give family first.
bool isJapanese(QStringView text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3040 && u <= 0x30FF) || (u >= 0x3400 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF) ||
            (u >= 0xFF66 && u <= 0xFF9F))
            return true;
    }
    return false;
}

// A record holds one line: a line break inside a name or address is a blank.
QString oneLine(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text.trimmed();
}

QString joinPresent(const QStringList& parts) {
    QStringList present;
    for (const QString& part : parts)
        if (!part.trimmed().isEmpty()) present << part.trimmed();
    return present.join(u' ');
}

QString personName(const QString& family, const QString& given, const QString& middle) {
    if (isJapanese(family) || isJapanese(given)) return joinPresent({family, given});
    return joinPresent({given, middle, family});
}

// ---- vCard ----

// The pieces of text between unescaped separators, escapes still in them.
QStringList splitUnescaped(QStringView text, QChar separator) {
    QStringList pieces;
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size()) {
            current += text[i];
            current += text[++i];
        } else if (text[i] == separator) {
            pieces << current;
            current.clear();
        } else {
            current += text[i];
        }
    }
    pieces << current;
    return pieces;
}

QString unescapeText(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const QChar next = text[++i];
        if (next == u'n' || next == u'N')
            out += u'\n';
        else
            out += next;  // \\ \, \; and, leniently, anything else escaped
    }
    return out;
}

// A component of N, whose lists ("Philip,Paul") are read as words.
QString nameComponent(QStringView raw) {
    QStringList words;
    for (const QString& word : splitUnescaped(raw, u',')) words << unescapeText(word);
    return joinPresent(words);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

QByteArray decodeQuotedPrintable(QByteArrayView in) {
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '=') {
            out += in[i];
            continue;
        }
        const int high = i + 1 < in.size() ? hexDigit(in[i + 1]) : -1;
        const int low = i + 2 < in.size() ? hexDigit(in[i + 2]) : -1;
        if (high >= 0 && low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (i + 1 < in.size()) {
            // An '=' that encodes nothing stays as it is; one at the very
            // end is a soft break left over, and goes.
            out += '=';
        }
    }
    return out;
}

struct Property {
    QByteArray name;  // upper case, group removed
    QList<QByteArray> parameters;  // upper case
    QByteArray value;
};

// Where the property's name and parameters end: the first colon outside
// a quoted parameter value.
qsizetype valueColon(QByteArrayView line) {
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ':' && !quoted) return i;
    }
    return -1;
}

bool isQuotedPrintable(QByteArrayView line) {
    const qsizetype colon = valueColon(line);
    if (colon < 0) return false;
    return line.first(colon).toByteArray().toUpper().contains("QUOTED-PRINTABLE");
}

std::optional<Property> parseProperty(QByteArrayView line) {
    const qsizetype colon = valueColon(line);
    if (colon < 0) return std::nullopt;
    Property property;
    const QList<QByteArray> head = line.first(colon).toByteArray().split(';');
    property.name = head.front().trimmed().toUpper();
    if (const qsizetype dot = property.name.lastIndexOf('.'); dot >= 0) property.name = property.name.mid(dot + 1);
    for (qsizetype i = 1; i < head.size(); ++i) property.parameters << head[i].trimmed().toUpper();
    property.value = line.sliced(colon + 1).toByteArray();
    return property;
}

QByteArray parameterValue(const Property& property, QByteArrayView key) {
    for (const QByteArray& parameter : property.parameters) {
        const qsizetype equals = parameter.indexOf('=');
        if (equals >= 0 && QByteArrayView(parameter).first(equals).trimmed() == key) {
            QByteArray value = parameter.mid(equals + 1).trimmed();
            if (value.startsWith('"') && value.endsWith('"') && value.size() >= 2) value = value.mid(1, value.size() - 2);
            return value;
        }
    }
    return {};
}

bool hasBareParameter(const Property& property, QByteArrayView word) {
    for (const QByteArray& parameter : property.parameters)
        if (parameter == word) return true;
    return false;
}

QString propertyText(const Property& property) {
    QByteArray bytes = property.value;
    const QByteArray encoding = parameterValue(property, "ENCODING");
    if (encoding == "QUOTED-PRINTABLE" || hasBareParameter(property, "QUOTED-PRINTABLE"))
        bytes = decodeQuotedPrintable(bytes);
    else if (encoding == "B" || encoding == "BASE64" || hasBareParameter(property, "BASE64"))
        bytes = QByteArray::fromBase64(bytes);
    const QByteArray charset = parameterValue(property, "CHARSET");
    if (charset == "SHIFT_JIS" || charset == "SJIS" || charset == "X-SJIS" || charset == "CP932" ||
        charset == "WINDOWS-31J" || charset == "MS_KANJI")
        return cp932::decode(bytes);
    if (charset == "ISO-8859-1" || charset == "US-ASCII") return QString::fromLatin1(bytes);
    return utf8OrCp932(bytes);
}

struct Card {
    QString fn;
    std::optional<QStringList> n;
    QStringList addresses;
    bool version21 = false;
};

void emitCard(const Card& card, std::vector<ContactEntry>& out) {
    QString name = oneLine(card.fn);
    if (name.isEmpty() && card.n) {
        const QStringList& n = *card.n;
        name = oneLine(personName(n.value(0), n.value(1), n.value(2)));
    }
    for (const QString& address : card.addresses) out.push_back({name, address});
}

}  // namespace

std::vector<ContactEntry> ReadVCardContacts(const QByteArray& input) {
    QByteArray bytes = input.startsWith(kUtf8Bom) ? input.mid(kUtf8Bom.size()) : input;
    bytes.replace("\r\n", "\n");
    bytes.replace('\r', '\n');
    const QList<QByteArray> physical = bytes.split('\n');

    // Unfolded lines. The version of the card being read decides what a
    // fold takes away: 3.0 and 4.0 fold by inserting CR LF and one blank,
    // 2.1 by breaking the line before a blank that stays.
    std::vector<ContactEntry> out;
    std::optional<Card> card;
    QByteArray logical;
    const auto handle = [&](const QByteArray& line) {
        const std::optional<Property> property = parseProperty(line);
        if (!property) return;
        const QByteArray plainValue = property->value.trimmed().toUpper();
        if (property->name == "BEGIN" && plainValue == "VCARD") {
            if (card) emitCard(*card, out);
            card = Card{};
            return;
        }
        if (!card) return;
        if (property->name == "END" && plainValue == "VCARD") {
            emitCard(*card, out);
            card.reset();
        } else if (property->name == "VERSION") {
            card->version21 = plainValue == "2.1";
        } else if (property->name == "FN") {
            if (card->fn.trimmed().isEmpty()) card->fn = unescapeText(propertyText(*property));
        } else if (property->name == "N") {
            if (!card->n) {
                QStringList components;
                for (const QString& raw : splitUnescaped(propertyText(*property), u';')) components << nameComponent(raw);
                card->n = components;
            }
        } else if (property->name == "EMAIL") {
            QString address = oneLine(unescapeText(propertyText(*property)));
            if (address.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive)) address = address.mid(7).trimmed();
            if (!address.isEmpty()) card->addresses << address;
        }
    };
    bool haveLogical = false;
    for (const QByteArray& line : physical) {
        if (haveLogical && logical.endsWith('=') && isQuotedPrintable(logical)) {
            // A quoted-printable soft break: the value goes on, as it is.
            logical.chop(1);
            logical += line;
        } else if (haveLogical && (line.startsWith(' ') || line.startsWith('\t'))) {
            logical += (card && card->version21) ? line : line.mid(1);
        } else {
            if (haveLogical) handle(logical);
            logical = line;
            haveLogical = true;
        }
    }
    if (haveLogical) handle(logical);
    // A last card without END:VCARD is still a card.
    if (card) emitCard(*card, out);
    return out;
}

// ---- CSV ----
namespace {

std::vector<QStringList> parseCsv(QStringView text) {
    std::vector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool fieldStarted = false;
    const auto endRow = [&] {
        row << field;
        field.clear();
        fieldStarted = false;
        // A blank line is no row.
        if (!(row.size() == 1 && row.front().isEmpty())) rows.push_back(row);
        row.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < text.size() && text[i + 1] == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == u'"' && !fieldStarted) {
            quoted = true;
            fieldStarted = true;
        } else if (c == u',') {
            row << field;
            field.clear();
            fieldStarted = false;
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            endRow();
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (fieldStarted || !field.isEmpty() || !row.isEmpty()) endRow();
    return rows;
}

// A column name without its blanks and case: Outlook's editions differ in
// both ("E-mail 2 Address", "電子メール 2 アドレス").
QString columnKey(const QString& header) {
    QString key = header.toCaseFolded();
    key.remove(QRegularExpression(QStringLiteral("\\s")));
    return key;
}

bool isAddressColumn(const QString& key) {
    static const QRegularExpression pattern(QStringLiteral(
        "^(e-mail\\d*-value|e-mail\\d*address|email\\d*address|電子メール\\d*アドレス|primaryemail|secondaryemail)$"));
    return pattern.match(key).hasMatch();
}

int columnOf(const QStringList& keys, std::initializer_list<const char16_t*> names) {
    for (const char16_t* name : names) {
        const qsizetype at = keys.indexOf(QString::fromUtf16(name));
        if (at >= 0) return static_cast<int>(at);
    }
    return -1;
}

}  // namespace

Result<std::vector<ContactEntry>> ReadCsvContacts(const QByteArray& bytes) {
    const std::vector<QStringList> rows = parseCsv(fileText(bytes));
    if (rows.empty()) return std::vector<ContactEntry>{};
    QStringList keys;
    for (const QString& header : rows.front()) keys << columnKey(header);
    std::vector<int> addressColumns;
    for (qsizetype i = 0; i < keys.size(); ++i)
        if (isAddressColumn(keys[i])) addressColumns.push_back(static_cast<int>(i));
    if (addressColumns.empty())
        return Failure{QStringLiteral("CSV ファイルにメールアドレスの列（「E-mail 1 - Value」や「E-mail Address」）がありません。")};
    const int nameColumn = columnOf(keys, {u"name", u"displayname"});
    const int givenColumn = columnOf(keys, {u"givenname", u"firstname", u"名"});
    const int familyColumn = columnOf(keys, {u"familyname", u"lastname", u"姓"});
    const int middleColumn = columnOf(keys, {u"additionalname", u"middlename", u"ミドルネーム"});

    std::vector<ContactEntry> out;
    for (size_t r = 1; r < rows.size(); ++r) {
        const QStringList& row = rows[r];
        QString name = oneLine(row.value(nameColumn));
        if (name.isEmpty())
            name = oneLine(personName(row.value(familyColumn), row.value(givenColumn), row.value(middleColumn)));
        for (const int column : addressColumns) {
            // Google puts two addresses of one kind into one cell: "a ::: b".
            for (const QString& piece : row.value(column).split(QStringLiteral(":::"))) {
                const QString address = oneLine(piece);
                if (!address.isEmpty()) out.push_back({name, address});
            }
        }
    }
    return out;
}

Result<std::vector<ContactEntry>> ReadContacts(const QByteArray& bytes) {
    QByteArrayView start(bytes);
    if (start.startsWith(kUtf8Bom)) start = start.sliced(kUtf8Bom.size());
    start = start.trimmed();
    if (start.first(std::min<qsizetype>(start.size(), 11)).toByteArray().toUpper() == "BEGIN:VCARD")
        return ReadVCardContacts(bytes);
    return ReadCsvContacts(bytes);
}

// ---- Out ----
namespace {

// RFC 6350's text escapes: backslash, comma and line break. A semicolon
// is plain text in FN and EMAIL, and escaping it would be wrong there.
QString escapeVCardText(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c == u'\\' || c == u',') {
            out += u'\\';
            out += c;
        } else if (c == u'\n') {
            out += QLatin1String("\\n");
        } else if (c != u'\r') {
            out += c;
        }
    }
    return out;
}

// A content line folded at 75 octets, never inside a UTF-8 sequence.
QByteArray foldedLine(const QString& line) {
    const QByteArray bytes = line.toUtf8();
    QByteArray out;
    qsizetype at = 0;
    qsizetype room = 75;
    while (bytes.size() - at > room) {
        qsizetype cut = at + room;
        while (cut > at && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
        out += bytes.mid(at, cut - at) + "\r\n ";
        at = cut;
        room = 74;  // the blank that starts the next line counts
    }
    out += bytes.mid(at) + "\r\n";
    return out;
}

QByteArray csvField(const QString& text) {
    const bool quote = text.contains(u',') || text.contains(u'"') || text.contains(u'\n') || text.contains(u'\r') ||
                       text.startsWith(u' ') || text.endsWith(u' ');
    if (!quote) return text.toUtf8();
    QString doubled = text;
    doubled.replace(u'"', QLatin1String("\"\""));
    return '"' + doubled.toUtf8() + '"';
}

}  // namespace

QByteArray WriteVCard4(const std::vector<ContactEntry>& entries) {
    QByteArray out;
    for (const ContactEntry& entry : entries) {
        out += "BEGIN:VCARD\r\nVERSION:4.0\r\n";
        out += foldedLine(QStringLiteral("FN:") + escapeVCardText(entry.name));
        if (!entry.address.isEmpty()) out += foldedLine(QStringLiteral("EMAIL:") + escapeVCardText(entry.address));
        out += "END:VCARD\r\n";
    }
    return out;
}

QByteArray WriteGoogleCsv(const std::vector<ContactEntry>& entries) {
    QByteArray out = "Name,E-mail 1 - Value\r\n";
    for (const ContactEntry& entry : entries) out += csvField(entry.name) + ',' + csvField(entry.address) + "\r\n";
    return out;
}

}  // namespace lumopet
