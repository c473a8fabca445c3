#include "core/settings_files/compose_options.h"

#include "core/cp932.h"
#include "core/safe_file.h"
#include "core/settings_files/numeric_value.h"
#include "core/settings_files/profile_file.h"

#include <cmath>
#include <optional>
#include <vector>

namespace lumopet {
namespace {

const QString kSection = QStringLiteral("Compose");
// Far more than any switch needs.
constexpr qsizetype kSwitchBuffer = 256;
// Each character of a kept signature takes at most six bytes escaped
// ("\uXXXX" a UTF-16 unit), so this buffer never cuts into the part of a
// value that is kept.
constexpr qsizetype kSignatureBuffer = 32768;

const QString kConfirmRecipients = QStringLiteral("ConfirmRecipients");
const QString kQuoteOnReply = QStringLiteral("QuoteOnReply");
const QString kKeepReplies = QStringLiteral("KeepReplies");
const QString kWidenKana = QStringLiteral("WidenKana");
const QString kWrapLines = QStringLiteral("WrapLines");
const QString kDefaultSignature = QStringLiteral("DefaultSignature");

QString signatureKey(int index) { return QStringLiteral("Signature%1").arg(index + 1); }

bool switchedOn(QByteArrayView file, const QString& key) { return ProfileSwitch(file, kSection, key, kSwitchBuffer); }

bool validDefault(int value) { return value >= 0 && value <= kSignatureCount; }

// A whole number read as the other settings files read numbers (a fraction
// rounds); anything out of range, or no number, is none.
int defaultSignature(QByteArrayView file) {
    const QString text = ProfileString(file, kSection, kDefaultSignature, kSwitchBuffer);
    if (text.isEmpty()) return 0;
    const double value = std::nearbyint(NumericValue(text));
    if (!std::isfinite(value) || value < 0 || value > kSignatureCount) return 0;
    return static_cast<int>(value);
}

QString flag(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

QString lineBreaksAsLf(QStringView text) {
    QString lf = text.toString();
    lf.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lf.replace(u'\r', u'\n');
    return lf;
}

// True when CP932 holds the character as it is. The round trip, not a
// table, decides: a character that comes back as "?" or as another one
// (U+00A5 as a backslash would be) is not held.
bool cp932Holds(QStringView character) { return cp932::decode(cp932::encode(character)) == character; }

void appendUnitEscapes(QString& out, QStringView units) {
    for (const QChar unit : units) out += QString::asprintf("\\u%04X", unsigned{unit.unicode()});
}

std::optional<char16_t> hexUnit(QStringView digits) {
    if (digits.size() != 4) return std::nullopt;
    char16_t unit = 0;
    for (const QChar d : digits) {
        const int value = (d >= u'0' && d <= u'9')   ? d.unicode() - u'0'
                          : (d >= u'a' && d <= u'f') ? d.unicode() - u'a' + 10
                          : (d >= u'A' && d <= u'F') ? d.unicode() - u'A' + 10
                                                     : -1;
        if (value < 0) return std::nullopt;
        unit = static_cast<char16_t>(unit * 16 + value);
    }
    return unit;
}

}  // namespace

QString KeptSignature(QStringView text) {
    QString kept = lineBreaksAsLf(text);
    const qsizetype nul = kept.indexOf(QChar(u'\0'));
    if (nul >= 0) kept.truncate(nul);
    if (kept.size() <= kMaxSignatureLength) return kept;

    qsizetype cut = kMaxSignatureLength;
    if (kept[cut] != u'\n') {
        // The last whole line that fits; a single line longer than the
        // limit is cut inside itself, but never between the two halves of
        // a surrogate pair.
        const qsizetype lastBreak = kept.lastIndexOf(u'\n', cut - 1);
        if (lastBreak > 0)
            cut = lastBreak;
        else if (kept[cut].isLowSurrogate())
            --cut;
    }
    kept.truncate(cut);
    return kept;
}

QString EscapedSignature(QStringView text) {
    const QString lf = lineBreaksAsLf(text);
    // Most signatures are all CP932: one round trip of the whole text
    // spares asking character by character.
    const bool allHeld = cp932Holds(lf);
    QString out;
    out.reserve(lf.size() + lf.size() / 4);
    for (qsizetype i = 0; i < lf.size(); ++i) {
        const QChar c = lf[i];
        if (c == u'\\') {
            out += QStringLiteral("\\\\");
        } else if (c == u'\n') {
            out += QStringLiteral("\\n");
        } else if (c.unicode() >= 0x20 && c.unicode() < 0x7F) {
            out += c;
        } else if (c == u'\t') {
            // Kept as it is: the engine quotes a value with a blank at
            // either end, and one inside is read back as it was.
            out += c;
        } else {
            const qsizetype length = c.isHighSurrogate() && i + 1 < lf.size() && lf[i + 1].isLowSurrogate() ? 2 : 1;
            const QStringView character = QStringView(lf).sliced(i, length);
            // Control characters (a NUL would end the value) and whatever
            // CP932 cannot hold go by their units.
            if (c.unicode() < 0x20 || c.unicode() == 0x7F || (!allHeld && !cp932Holds(character)))
                appendUnitEscapes(out, character);
            else
                out += character;
            i += length - 1;
        }
    }
    return out;
}

QString UnescapedSignature(QStringView value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 >= value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[i + 1];
        if (next == u'\\') {
            out += u'\\';
            ++i;
        } else if (next == u'n') {
            out += u'\n';
            ++i;
        } else if (const auto unit = next == u'u' && i + 6 <= value.size() ? hexUnit(value.sliced(i + 2, 4)) : std::nullopt) {
            out += QChar(*unit);
            i += 5;
        } else {
            // Not one of ours (a hand-edited file): the backslash is text.
            out += c;
        }
    }
    return out;
}

ComposeOptions ParseComposeOptions(QByteArrayView file) {
    ComposeOptions options;
    options.ConfirmRecipients = switchedOn(file, kConfirmRecipients);
    options.QuoteOnReply = switchedOn(file, kQuoteOnReply);
    options.KeepReplies = switchedOn(file, kKeepReplies);
    options.WidenKana = switchedOn(file, kWidenKana);
    options.WrapLines = switchedOn(file, kWrapLines);
    for (int i = 0; i < kSignatureCount; ++i)
        options.Signatures[i] =
            KeptSignature(UnescapedSignature(ProfileString(file, kSection, signatureKey(i), kSignatureBuffer)));
    options.DefaultSignature = defaultSignature(file);
    return options;
}

Result<ComposeOptions> ReadComposeOptions(const QString& path) {
    const Result<std::optional<QByteArray>> file = ReadFileIfPresent(path);
    if (!file) return Failure{file.error()};
    if (!file.value()) return ComposeOptions{};
    return ParseComposeOptions(*file.value());
}

Status WriteComposeOptions(const QString& path, const ComposeOptions& options) {
    std::vector<ProfileEntry> entries{
        {kConfirmRecipients, flag(options.ConfirmRecipients)},
        {kQuoteOnReply, flag(options.QuoteOnReply)},
        {kKeepReplies, flag(options.KeepReplies)},
        {kWidenKana, flag(options.WidenKana)},
        {kWrapLines, flag(options.WrapLines)},
    };
    for (int i = 0; i < kSignatureCount; ++i)
        entries.push_back({signatureKey(i), EscapedSignature(KeptSignature(options.Signatures[i]))});
    // A number out of its range is written as the reader would take it, so
    // that the file says what the next start will do.
    entries.push_back(
        {kDefaultSignature, QString::number(validDefault(options.DefaultSignature) ? options.DefaultSignature : 0)});
    // Refuses, as every settings file does, to replace a file that is there
    // and cannot be read: it would lose whatever else the file holds.
    return WriteProfileStrings(path, kSection, entries);
}

Status UpdateComposeOptions(const QString& path, const std::function<void(ComposeOptions&)>& change) {
    Result<ComposeOptions> options = ReadComposeOptions(path);
    if (!options) return Failure{options.error()};
    change(options.value());
    return WriteComposeOptions(path, options.value());
}

}  // namespace lumopet
