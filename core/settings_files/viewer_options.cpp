#include "core/settings_files/viewer_options.h"

#include "core/safe_file.h"
#include "core/settings_files/numeric_value.h"
#include "core/settings_files/profile_file.h"

#include <optional>
#include <vector>

namespace lumopet {
namespace {

const QString kSection = QStringLiteral("Viewer");
const QString kShowHtml = QStringLiteral("ShowHtml");
constexpr qsizetype kBufferSize = 256;

}  // namespace

ViewerOptions ParseViewerOptions(QByteArrayView file) {
    ViewerOptions options;
    // On when the value reads as the number 1, as the other switches of
    // the file are.
    const QString text = ProfileString(file, kSection, kShowHtml, kBufferSize);
    options.ShowHtml = !text.isEmpty() && NumericValue(text) == 1.0;
    return options;
}

Result<ViewerOptions> ReadViewerOptions(const QString& path) {
    const Result<std::optional<QByteArray>> file = ReadFileIfPresent(path);
    if (!file) return Failure{file.error()};
    if (!file.value()) return ViewerOptions{};
    return ParseViewerOptions(*file.value());
}

Status WriteViewerOptions(const QString& path, const ViewerOptions& options) {
    const std::vector<ProfileEntry> entries{{kShowHtml, options.ShowHtml ? QStringLiteral("1") : QStringLiteral("0")}};
    return WriteProfileStrings(path, kSection, entries);
}

}  // namespace lumopet
