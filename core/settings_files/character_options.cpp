#include "core/settings_files/character_options.h"

#include "core/safe_file.h"
#include "core/settings_files/profile_file.h"

#include <vector>

namespace lumopet {
namespace {

const QString kSection = QStringLiteral("Characters");
// A span is a dozen characters; anything longer is cut as a buffer of this
// size would cut it, and is no span anyway.
constexpr qsizetype kBufferSize = 256;

const QString kHomeWhenRead = QStringLiteral("HomeWhenRead");
const QString kAwayFromFullScreen = QStringLiteral("AwayFromFullScreen");
const QString kQuietHours = QStringLiteral("QuietHours");

bool switchedOn(QByteArrayView file, const QString& key) { return ProfileSwitch(file, kSection, key, kBufferSize); }

QString flag(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

// "7:05" or "07:05": hours 0 to 23, minutes of two digits.
std::optional<QTime> clockTime(QStringView text) {
    text = text.trimmed();
    const qsizetype colon = text.indexOf(u':');
    if (colon < 1 || colon > 2 || text.size() != colon + 3) return std::nullopt;
    for (const QChar c : text)
        if (c != u':' && (c < u'0' || c > u'9')) return std::nullopt;
    const int hours = text.left(colon).toInt();
    const int minutes = text.mid(colon + 1).toInt();
    if (hours > 23 || minutes > 59) return std::nullopt;
    return QTime(hours, minutes);
}

QString formatSentence() {
    return QStringLiteral("「22:00-07:00」のように、始まりと終わりの時刻を「-」でつないで書いて下さい。");
}

}  // namespace

CharacterOptions ParseCharacterOptions(QByteArrayView file) {
    CharacterOptions options;
    options.HomeWhenRead = switchedOn(file, kHomeWhenRead);
    options.AwayFromFullScreen = switchedOn(file, kAwayFromFullScreen);
    options.QuietHours = ProfileString(file, kSection, kQuietHours, kBufferSize);
    return options;
}

Result<CharacterOptions> ReadCharacterOptions(const QString& path) {
    const Result<std::optional<QByteArray>> file = ReadFileIfPresent(path);
    if (!file) return Failure{file.error()};
    if (!file.value()) return CharacterOptions{};
    return ParseCharacterOptions(*file.value());
}

Status WriteCharacterOptions(const QString& path, const CharacterOptions& options) {
    // A line break would end the value and start a line of its own in the
    // file: the value is kept on one line.
    QString quietHours = options.QuietHours;
    quietHours.replace(u'\r', u' ').replace(u'\n', u' ');
    const std::vector<ProfileEntry> entries{
        {kHomeWhenRead, flag(options.HomeWhenRead)},
        {kAwayFromFullScreen, flag(options.AwayFromFullScreen)},
        {kQuietHours, quietHours.trimmed()},
    };
    return WriteProfileStrings(path, kSection, entries);
}

std::optional<QuietHoursSpan> ParseQuietHours(QStringView text) {
    // Full-width digits, colon, dash and tilde become their plain forms.
    const QString plain = text.toString().normalized(QString::NormalizationForm_KC).trimmed();
    // The wave dash is what a Japanese input method on Linux types for "～".
    qsizetype dash = -1;
    for (qsizetype i = 0; i < plain.size() && dash < 0; ++i)
        if (plain[i] == u'-' || plain[i] == u'~' || plain[i] == QChar(0x301c)) dash = i;
    if (dash < 0) return std::nullopt;
    const std::optional<QTime> from = clockTime(QStringView(plain).left(dash));
    const std::optional<QTime> to = clockTime(QStringView(plain).mid(dash + 1));
    if (!from || !to || *from == *to) return std::nullopt;
    return QuietHoursSpan{*from, *to};
}

bool IsQuietAt(const CharacterOptions& options, QTime now) {
    if (options.QuietHours.isEmpty()) return false;
    const std::optional<QuietHoursSpan> span = ParseQuietHours(options.QuietHours);
    if (!span) return false;
    const QTime minute(now.hour(), now.minute());
    if (span->from < span->to) return span->from <= minute && minute < span->to;
    // Past midnight: from the evening on, or before the morning's end.
    return minute >= span->from || minute < span->to;
}

QString UnreadableQuietHoursText(const QString& value) {
    return QStringLiteral("静かな時間帯「%1」は読み取れないため、使われません。\n").arg(value) + formatSentence();
}

QString RefusedQuietHoursText(const QString& value) {
    return QStringLiteral("静かな時間帯「%1」は読み取れないため、保存しませんでした。\n").arg(value) + formatSentence();
}

}  // namespace lumopet
