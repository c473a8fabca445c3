#include "mail/japanese_charsets.h"

#include "core/cp932.h"

#include <QByteArray>
#include <QStringDecoder>

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumopet::mail {
namespace {

// ---------------------------------------------------------------------------
// Charset names

enum class Family { Undeclared, Utf8, Cp932, Jis, EucJp, Other };

// Windows calls it Shift_JIS under many names; CP932 is the table Windows
// writes with, a superset of the standard one.
constexpr std::array<std::string_view, 11> kCp932Names = {"shift_jis", "shift-jis",  "sjis",        "x-sjis",
                                                          "ms_kanji",  "csshiftjis", "windows-31j", "cswindows31j",
                                                          "cp932",     "ms932",      "x-ms-cp932"};

// Names that say nothing about 8-bit bytes. US-ASCII belongs here too: a
// mailer that labels Shift_JIS text "us-ascii" is wrong about the label, not
// about the bytes, and ASCII itself reads the same either way.
constexpr std::array<std::string_view, 8> kUndeclaredNames = {
    "us-ascii", "ascii", "ansi_x3.4-1968", "iso646-us", "x-unknown", "unknown-8bit", "unknown", "default"};

constexpr std::array<std::string_view, 3> kUtf8Names = {"utf-8", "utf8", "unicode-1-1-utf-8"};

constexpr std::array<std::string_view, 7> kEucJpNames = {"euc-jp",  "eucjp",     "x-euc-jp", "cseucpkdfmtjapanese",
                                                         "cp51932", "euc-jp-ms", "eucjp-ms"};

template <std::size_t N>
bool isOneOf(const QByteArray& name, const std::array<std::string_view, N>& names) {
    const std::string_view view(name.constData(), static_cast<std::size_t>(name.size()));
    return std::find(names.begin(), names.end(), view) != names.end();
}

QByteArray normalisedName(QByteArrayView charset) {
    QByteArray name = charset.toByteArray().trimmed().toLower();
    if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"')) name = name.mid(1, name.size() - 2).trimmed();
    return name;
}

Family familyOf(const QByteArray& name) {
    if (name.isEmpty() || isOneOf(name, kUndeclaredNames)) return Family::Undeclared;
    if (isOneOf(name, kUtf8Names)) return Family::Utf8;
    if (isOneOf(name, kCp932Names)) return Family::Cp932;
    if (isOneOf(name, kEucJpNames)) return Family::EucJp;
    // ISO-2022-JP, -1, -2, -3, CSISO2022JP, CSISO2022JP2, and the Windows
    // code pages 50220 to 50222 that write it.
    if (name.startsWith("iso-2022-jp") || name.startsWith("iso2022jp") || name.startsWith("csiso2022jp") ||
        name.startsWith("cp5022") || name.startsWith("x-cp5022") || name == "jis" || name == "jis7")
        return Family::Jis;
    return Family::Other;
}

// Only plain converter names go to ICU: ICU reads options after a comma,
// and an empty name would open the platform's default converter.
bool isPlainConverterName(const QByteArray& name) {
    if (name.isEmpty() || name.size() > 64) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':' ||
               c == '+';
    });
}

// ---------------------------------------------------------------------------
// Decoders

struct ConverterClose {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};

// Opening a converter reads ICU's tables and costs more than decoding a
// whole everyday message with it, so each thread keeps the few it used
// last and resets one before it decodes again.
class ConverterCache {
public:
    UConverter* get(const char* name) {
        for (Entry& entry : entries_) {
            if (entry.name == name) {
                ucnv_reset(entry.converter.get());
                return entry.converter.get();
            }
        }
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<UConverter, ConverterClose> converter(ucnv_open(name, &status));
        if (U_FAILURE(status) || !converter) return nullptr;
        if (entries_.size() == kKept) entries_.erase(entries_.begin());
        entries_.push_back({name, std::move(converter)});
        return entries_.back().converter.get();
    }

private:
    struct Entry {
        std::string name;
        std::unique_ptr<UConverter, ConverterClose> converter;
    };
    static constexpr size_t kKept = 4;
    std::vector<Entry> entries_;
};

// Nothing when ICU has no converter of that name. ICU's default callback
// puts U+FFFD in place of bytes it cannot read, a cut-off character at the
// end included.
std::optional<QString> decodeWithIcu(QByteArrayView bytes, const char* converterName) {
    thread_local ConverterCache converters;
    UConverter* const converter = converters.get(converterName);
    if (!converter) return std::nullopt;

    QString text;
    text.reserve(bytes.size());
    std::array<UChar, 2048> buffer;
    const char* source = bytes.data();
    const char* const sourceEnd = source + bytes.size();
    for (;;) {
        UChar* target = buffer.data();
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &target, buffer.data() + buffer.size(), &source, sourceEnd, nullptr, true,
                       &status);
        text.append(reinterpret_cast<const QChar*>(buffer.data()), target - buffer.data());
        if (status != U_BUFFER_OVERFLOW_ERROR) break;
    }
    return text;
}

// ICU's ISO-2022-JP table is the Windows one: it reads row 13 (①..⑳, №,
// ㈱) and maps 0x2141 to U+FF5E, where glibc stops at row 13 and GMime with
// it. "ISO-2022-JP-2" is ICU's widest variant: it also takes the JIS X 0212
// and ISO-8859-1 escapes that ISO-2022-JP-1/-2 mail may use.
constexpr const char* kJisConverter = "ISO-2022-JP-2";

// ISO-2022-JP as nearly all Japanese mail has it, read without a call into
// ICU for each character, which cost most of a check's decoding: ASCII, JIS
// X 0201 (Roman and kana) and JIS X 0208 after the escapes that name them.
// Each character comes from ICU's own table, learnt the first time it is
// met, so the text is ICU's to the letter; anything else (another escape,
// a control or line end inside a two-byte run, an 8-bit byte, a cut-off
// pair, a character ICU does not read as one) leaves the whole text to ICU.
class PlainJis {
public:
    static std::optional<QString> read(QByteArrayView bytes) {
        QString text(bytes.size(), Qt::Uninitialized);
        QChar* out = text.data();
        Set set = Set::Ascii;
        const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
        const auto* const end = at + bytes.size();
        while (at < end) {
            const unsigned char byte = *at;
            if (byte == 0x1B) {
                const std::optional<Set> named = escapeAt(at, end);
                if (!named) return std::nullopt;
                set = *named;
                at += 3;
                continue;
            }
            if (byte >= 0x80 || byte == 0x0E || byte == 0x0F) return std::nullopt;
            char16_t unit = byte;
            if (set == Set::Ascii) {
                ++at;
            } else if (byte < 0x21 || byte > 0x7E) {
                // Controls, blanks and line ends outside ASCII are ICU's to place.
                return std::nullopt;
            } else if (set == Set::Kanji1978 || set == Set::Kanji1983) {
                if (end - at < 2 || at[1] < 0x21 || at[1] > 0x7E) return std::nullopt;
                unit = known(set, (byte - 0x21) * 94 + (at[1] - 0x21));
                at += 2;
            } else {
                unit = known(set, byte - 0x21);
                ++at;
            }
            if (unit == kNotPlain) return std::nullopt;
            *out++ = QChar(unit);
        }
        text.truncate(out - text.data());
        return text;
    }

private:
    enum class Set { Ascii, Roman, Kana, Kanji1978, Kanji1983 };
    static constexpr char16_t kUnknown = 0;
    static constexpr char16_t kNotPlain = 0xFFFF;

    static std::optional<Set> escapeAt(const unsigned char* at, const unsigned char* end) {
        if (end - at < 3) return std::nullopt;
        if (at[1] == '(' && at[2] == 'B') return Set::Ascii;
        if (at[1] == '(' && at[2] == 'J') return Set::Roman;
        if (at[1] == '(' && at[2] == 'I') return Set::Kana;
        if (at[1] == '$' && at[2] == '@') return Set::Kanji1978;
        if (at[1] == '$' && at[2] == 'B') return Set::Kanji1983;
        return std::nullopt;
    }

    // The escape that names the set.
    static QByteArray escapeOf(Set set) {
        switch (set) {
            case Set::Roman: return "\x1b(J";
            case Set::Kana: return "\x1b(I";
            case Set::Kanji1978: return "\x1b$@";
            case Set::Kanji1983: return "\x1b$B";
            case Set::Ascii: break;
        }
        return "\x1b(B";
    }

    static char16_t known(Set set, int cell) {
        std::atomic<char16_t>& entry = tableOf(set)[static_cast<size_t>(cell)];
        char16_t unit = entry.load(std::memory_order_relaxed);
        if (unit == kUnknown) {
            unit = learn(set, cell);
            entry.store(unit, std::memory_order_relaxed);
        }
        return unit;
    }

    // What ICU reads the cell as, alone after its escape; kNotPlain unless
    // that is one character of the BMP that is not U+FFFD.
    static char16_t learn(Set set, int cell) {
        QByteArray bytes = escapeOf(set);
        if (set == Set::Kanji1978 || set == Set::Kanji1983) {
            bytes += static_cast<char>(0x21 + cell / 94);
            bytes += static_cast<char>(0x21 + cell % 94);
        } else {
            bytes += static_cast<char>(0x21 + cell);
        }
        const std::optional<QString> read = decodeWithIcu(bytes, kJisConverter);
        if (!read || read->size() != 1) return kNotPlain;
        const char16_t unit = read->at(0).unicode();
        if (unit == kUnknown || unit == QChar::ReplacementCharacter || QChar::isSurrogate(unit)) return kNotPlain;
        return unit;
    }

    // Threads that learn the same cell at once store the same value.
    static std::atomic<char16_t>* tableOf(Set set) {
        static std::array<std::atomic<char16_t>, 94> roman{};
        static std::array<std::atomic<char16_t>, 94> kana{};
        static std::array<std::atomic<char16_t>, 94 * 94> kanji1978{};
        static std::array<std::atomic<char16_t>, 94 * 94> kanji1983{};
        switch (set) {
            case Set::Roman: return roman.data();
            case Set::Kana: return kana.data();
            case Set::Kanji1978: return kanji1978.data();
            case Set::Kanji1983:
            case Set::Ascii: break;
        }
        return kanji1983.data();
    }
};

QString decodeJis(QByteArrayView bytes) {
    if (auto text = PlainJis::read(bytes)) return *text;
    if (auto text = decodeWithIcu(bytes, kJisConverter)) return *text;
    return QString(bytes.size(), QChar::ReplacementCharacter);  // ICU without its data: cannot happen on Debian
}

bool isSevenBit(QByteArrayView bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool hasJisEscape(QByteArrayView bytes) {
    for (qsizetype i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == '\x1b' && (bytes[i + 1] == '$' || bytes[i + 1] == '(')) return true;
    }
    return false;
}

std::optional<QString> decodeValidUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError()) return std::nullopt;
    return text;
}

QString decodeUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    return decoder(bytes);
}

// ---------------------------------------------------------------------------
// Undeclared 8-bit text. The Japanese charsets are tried first, by rules of
// our own: ICU's detector reads a short Japanese text as KOI8-R or
// ISO-8859-1 as readily as Japanese. It is asked only when neither
// Shift_JIS nor EUC-JP fits the bytes.

// How well bytes read as Shift_JIS (CP932).
enum class ShiftJisFit {
    Japanese,    // valid, with kana, full-width symbols or common kanji
    Plausible,   // valid, but only half-width kana and rare kanji: Big5 and
                 // ISO-8859-1 text often read like this
    Unreadable,  // broken sequences, unmapped or user-defined characters
};

bool isPrivateUse(QChar c) { return c.unicode() >= 0xE000 && c.unicode() <= 0xF8FF; }

// No U+FFFD or U+001A (what the converters put for what they cannot read)
// and no user-defined characters, which no mail means.
bool readsCleanly(const QString& text) {
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c == QChar::ReplacementCharacter || c == u'\x1a' || isPrivateUse(c);
    });
}

// Lead bytes of what Japanese text is made of: symbols, full-width letters
// and digits, hiragana, katakana (0x81 to 0x84), the NEC circled digits
// (0x87) and the first level of kanji (0x88 to 0x9F). Big5 and ISO-8859-1
// have no byte in that range, so they never read as these.
bool isCommonShiftJisLead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x84) || (byte >= 0x87 && byte <= 0x9F);
}

ShiftJisFit shiftJisFit(QByteArrayView bytes, const QString& decoded) {
    if (!readsCleanly(decoded)) return ShiftJisFit::Unreadable;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (!cp932::isLeadByte(byte)) continue;
        if (isCommonShiftJisLead(byte)) return ShiftJisFit::Japanese;
        ++i;  // the trail byte
    }
    return ShiftJisFit::Plausible;
}

// EUC-JP that holds symbols, kana (rows 1 to 5), the NEC circled digits
// (row 13) or first-level kanji (rows 16 to 47), and nothing broken.
std::optional<QString> decodeJapaneseEucJp(QByteArrayView bytes) {
    bool common = false;
    const auto isHigh = [](unsigned char byte) { return byte >= 0xA1 && byte <= 0xFE; };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) continue;
        const auto next = [&](qsizetype offset) {
            return i + offset < bytes.size() ? static_cast<unsigned char>(bytes[i + offset]) : 0;
        };
        if (byte == 0x8E && next(1) >= 0xA1 && next(1) <= 0xDF) {  // half-width kana
            i += 1;
        } else if (byte == 0x8F && isHigh(next(1)) && isHigh(next(2))) {  // JIS X 0212
            i += 2;
        } else if (isHigh(byte) && isHigh(next(1))) {
            common = common || byte <= 0xA5 || byte == 0xAD || (byte >= 0xB0 && byte <= 0xCF);
            i += 1;
        } else {
            return std::nullopt;
        }
    }
    if (!common) return std::nullopt;
    auto text = decodeWithIcu(bytes, "EUC-JP");
    if (!text || !readsCleanly(*text)) return std::nullopt;
    return text;
}

// ICU's guess must be surer where Shift_JIS reads the bytes cleanly (a
// Japanese text in half-width kana gets about 35 for ISO-8859-1) than where
// Shift_JIS cannot read them at all (a French sentence gets about 33).
constexpr int kConfidenceOverPlausibleShiftJis = 50;
constexpr int kConfidenceOverUnreadableShiftJis = 25;
// The detector reads the start of a long text; the rest is like it.
constexpr qsizetype kDetectorSampleBytes = 64 * 1024;

struct DetectorClose {
    void operator()(UCharsetDetector* detector) const { ucsdet_close(detector); }
};

// The charset ICU's detector names with at least minConfidence (0 to 100).
// Its EBCDIC guesses are left out: mail text is ASCII-based.
std::optional<QByteArray> detectedCharset(QByteArrayView bytes, int minConfidence) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCharsetDetector, DetectorClose> detector(ucsdet_open(&status));
    if (U_FAILURE(status)) return std::nullopt;
    const auto length = static_cast<int32_t>(std::min(bytes.size(), kDetectorSampleBytes));
    ucsdet_setText(detector.get(), bytes.data(), length, &status);
    int32_t count = 0;
    const UCharsetMatch** matches = ucsdet_detectAll(detector.get(), &count, &status);
    if (U_FAILURE(status)) return std::nullopt;
    for (int32_t i = 0; i < count; ++i) {
        const char* name = ucsdet_getName(matches[i], &status);
        const int32_t confidence = ucsdet_getConfidence(matches[i], &status);
        if (U_FAILURE(status) || !name || confidence < minConfidence) return std::nullopt;
        if (!QByteArrayView(name).startsWith("IBM")) return QByteArray(name);
    }
    return std::nullopt;
}

QString decodeUndeclared(QByteArrayView bytes) {
    if (isSevenBit(bytes)) return hasJisEscape(bytes) ? decodeJis(bytes) : QString::fromLatin1(bytes);
    if (auto text = decodeValidUtf8(bytes)) return *text;
    QString shiftJis = cp932::decode(bytes);
    const ShiftJisFit fit = shiftJisFit(bytes, shiftJis);
    if (fit == ShiftJisFit::Japanese) return shiftJis;
    if (auto text = decodeJapaneseEucJp(bytes)) return *text;
    const int minConfidence =
        fit == ShiftJisFit::Plausible ? kConfidenceOverPlausibleShiftJis : kConfidenceOverUnreadableShiftJis;
    if (const auto charset = detectedCharset(bytes, minConfidence)) {
        // Straight to a converter, not through DecodeCharset, which sends
        // some names (ISO-2022-JP over 8-bit bytes) back here.
        if (familyOf(normalisedName(*charset)) == Family::Cp932) return shiftJis;
        if (auto text = decodeWithIcu(bytes, charset->constData())) return *text;
    }
    // Nothing surer: most mail without a charset comes from Japanese
    // Windows mailers.
    return shiftJis;
}

// ---------------------------------------------------------------------------
// RFC 2047 encoded-words

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// RFC 2047 4.2: "_" is a blank, "=XX" a byte. A broken "=" stays as it is.
QByteArray decodeQ(QByteArrayView text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            bytes += ' ';
        } else if (c == '=' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            bytes += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            bytes += c;
        }
    }
    return bytes;
}

struct EncodedWord {
    QByteArray charset;  // normalised, without an RFC 2231 language
    QByteArray bytes;    // the encoded-text decoded, still in the charset
    qsizetype end = 0;   // just past the closing "?="
};

// "=?charset?B|Q?encoded-text?=" starting at start, else nothing. The
// encoded-text holds neither "?" nor blanks (RFC 2047 section 2).
std::optional<EncodedWord> readEncodedWord(QByteArrayView raw, qsizetype start) {
    if (start + 1 >= raw.size() || raw[start] != '=' || raw[start + 1] != '?') return std::nullopt;
    const qsizetype charsetStart = start + 2;
    qsizetype pos = charsetStart;
    while (pos < raw.size() && raw[pos] != '?' && raw[pos] != ' ' && raw[pos] != '\t') ++pos;
    if (pos >= raw.size() || raw[pos] != '?' || pos == charsetStart || pos - charsetStart > 64) return std::nullopt;
    QByteArray charset = raw.sliced(charsetStart, pos - charsetStart).toByteArray();
    // RFC 2231 section 5: "=?ISO-2022-JP*ja?B?...?=" names a language too.
    if (const qsizetype star = charset.indexOf('*'); star >= 0) charset.truncate(star);

    if (pos + 2 >= raw.size() || raw[pos + 2] != '?') return std::nullopt;
    const char encoding = raw[pos + 1];
    if (encoding != 'B' && encoding != 'b' && encoding != 'Q' && encoding != 'q') return std::nullopt;

    const qsizetype textStart = pos + 3;
    qsizetype textEnd = textStart;
    while (textEnd < raw.size() && raw[textEnd] != '?' && raw[textEnd] != ' ' && raw[textEnd] != '\t') ++textEnd;
    if (textEnd + 1 >= raw.size() || raw[textEnd] != '?' || raw[textEnd + 1] != '=') return std::nullopt;

    const QByteArrayView text = raw.sliced(textStart, textEnd - textStart);
    EncodedWord word;
    word.charset = normalisedName(charset);
    word.bytes = (encoding == 'B' || encoding == 'b') ? QByteArray::fromBase64(text.toByteArray()) : decodeQ(text);
    word.end = textEnd + 2;
    return word;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool onlyBlanks(QByteArrayView bytes) { return std::all_of(bytes.begin(), bytes.end(), isBlank); }

// One value line: control characters would break the header block apart
// (an encoded CR LF) or cut a text short (an encoded NUL).
QString blankOutControls(QString text) {
    for (QChar& c : text) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F) c = u' ';
    }
    return text;
}

}  // namespace

QString DecodeCharset(QByteArrayView bytes, QByteArrayView charset) {
    const QByteArray name = normalisedName(charset);
    switch (familyOf(name)) {
        case Family::Undeclared:
            return decodeUndeclared(bytes);
        case Family::Utf8:
            return decodeUtf8(bytes);
        case Family::Cp932:
            return cp932::decode(bytes);
        case Family::Jis:
            // ISO-2022-JP is 7-bit by definition; 8-bit bytes under that label
            // are Shift_JIS or UTF-8 sent by a mailer that labels everything
            // Japanese "ISO-2022-JP".
            if (!isSevenBit(bytes) && !hasJisEscape(bytes)) return decodeUndeclared(bytes);
            return decodeJis(bytes);
        case Family::EucJp:
            // ICU's EUC-JP reads row 13 (0xADA1 = ①) as Windows' CP51932 does.
            if (auto text = decodeWithIcu(bytes, "EUC-JP")) return *text;
            return decodeUndeclared(bytes);
        case Family::Other:
            if (isPlainConverterName(name)) {
                if (auto text = decodeWithIcu(bytes, name.constData())) return *text;
            }
            return decodeUndeclared(bytes);
    }
    return decodeUndeclared(bytes);
}

QString DecodeHeaderText(QByteArrayView raw) { return DecodeHeaderText(raw, {}); }

QString DecodeHeaderText(QByteArrayView raw, QByteArrayView rawCharset) {
    const auto decodeRaw = [rawCharset](QByteArrayView bytes) {
        return rawCharset.isEmpty() ? decodeUndeclared(bytes) : DecodeCharset(bytes, rawCharset);
    };
    // Unfolding (RFC 5322 2.2.3) takes out the line breaks, not the blanks
    // after them. Most values come unfolded already.
    QByteArray unfolded = raw.toByteArray();
    if (unfolded.contains('\r') || unfolded.contains('\n'))
        unfolded.replace('\r', QByteArray()).replace('\n', QByteArray());

    QString text;
    QByteArray runCharset;  // the encoded-words read but not yet decoded
    QByteArray runBytes;
    bool inRun = false;
    const auto flushRun = [&] {
        if (inRun) text += DecodeCharset(runBytes, runCharset);
        inRun = false;
        runBytes.clear();
    };

    qsizetype plainStart = 0;
    qsizetype pos = 0;
    while (pos < unfolded.size()) {
        const auto word = unfolded[pos] == '=' ? readEncodedWord(unfolded, pos) : std::nullopt;
        if (!word) {
            ++pos;
            continue;
        }
        const QByteArrayView between = QByteArrayView(unfolded).sliced(plainStart, pos - plainStart);
        // RFC 2047 section 6.2: blanks between two encoded-words are not
        // displayed. Words of one charset are joined as bytes first, so a
        // character split between them (as some mailers split Shift_JIS
        // and UTF-8) comes out whole.
        const bool adjacent = inRun && onlyBlanks(between);
        if (adjacent && word->charset == runCharset) {
            runBytes += word->bytes;
        } else {
            flushRun();
            if (!adjacent) text += decodeRaw(between);
            runCharset = word->charset;
            runBytes = word->bytes;
            inRun = true;
        }
        pos = word->end;
        plainStart = pos;
    }
    flushRun();
    text += decodeRaw(QByteArrayView(unfolded).sliced(plainStart));
    return blankOutControls(text);
}

bool IsReadableCharset(QByteArrayView charset) {
    const QByteArray name = normalisedName(charset);
    switch (familyOf(name)) {
        case Family::Undeclared:
            // ASCII is a charset, if a narrow one; "x-unknown" and its kind are none.
            return name == "us-ascii" || name == "ascii" || name == "ansi_x3.4-1968" || name == "iso646-us";
        case Family::Utf8:
        case Family::Cp932:
        case Family::Jis:
        case Family::EucJp:
            return true;
        case Family::Other:
            break;
    }
    if (!isPlainConverterName(name)) return false;
    UErrorCode status = U_ZERO_ERROR;
    // Known to ICU's alias table: no converter needs opening to say so.
    return ucnv_countAliases(name.constData(), &status) > 0 && U_SUCCESS(status);
}

}  // namespace lumopet::mail
