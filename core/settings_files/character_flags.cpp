#include "core/settings_files/character_flags.h"

#include "core/settings_files/numeric_value.h"
#include "core/settings_files/profile_file.h"

namespace lumopet {
namespace {

const QString kSection = QStringLiteral("EXEINI");
constexpr qsizetype kBufferSize = 1256;

}  // namespace

MoodFlags ReadCharacterFlags(const QString& path) {
    const QByteArray file = ReadProfileFile(path);
    MoodFlags enabled{};
    for (const MoodLink& link : kMoodLinks) {
        const QString value = ProfileString(file, kSection, QLatin1String(link.key), kBufferSize);
        enabled[link.mood - 1] = !value.isEmpty() && NumericValue(value) == 1.0;
    }
    return enabled;
}

Status WriteCharacterFlags(const QString& path, const MoodFlags& enabled) {
    std::vector<ProfileEntry> entries;
    for (const MoodLink& link : kMoodLinks) entries.push_back({QLatin1String(link.key), QStringLiteral("0")});
    for (int window = 1; window <= kMoodCount; ++window) {
        const MoodLink& link = LinkOfWindow(window);
        if (enabled[link.mood - 1]) entries.push_back({QLatin1String(link.key), QStringLiteral("1")});
    }
    return WriteProfileStrings(path, kSection, entries);
}

}  // namespace lumopet
