#include "core/settings_files/profile_file.h"

#include "core/cp932.h"
#include "core/safe_file.h"
#include "core/settings_files/numeric_value.h"

#include <QList>

namespace lumopet {
namespace {

const QByteArray kNewline = QByteArrayLiteral("\r\n");

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Blanks are single bytes that never occur inside a CP932 double-byte
// character, so trimming bytes is safe.
QByteArrayView trimmed(QByteArrayView bytes) {
    while (!bytes.isEmpty() && isBlank(bytes.front())) bytes = bytes.sliced(1);
    while (!bytes.isEmpty() && (isBlank(bytes.back()) || bytes.back() == '\r')) bytes.chop(1);
    return bytes;
}

bool sameName(QByteArrayView bytes, const QString& name) {
    return cp932::decode(bytes).compare(name, Qt::CaseInsensitive) == 0;
}

// One line of the file, with its line break kept apart so that untouched
// lines are written back exactly as they were.
struct Line {
    QByteArray text;
    QByteArray end;

    QByteArrayView content() const { return trimmed(text); }
    bool isComment() const { return content().startsWith(';'); }
    std::optional<QByteArrayView> sectionName() const {
        const QByteArrayView c = content();
        if (!c.startsWith('[')) return std::nullopt;
        const qsizetype close = c.indexOf(']');
        return trimmed(c.sliced(1, (close < 0 ? c.size() : close) - 1));
    }
    // "=" is 0x3D, below every CP932 trail byte, so the first one found is
    // a real one.
    std::optional<std::pair<QByteArrayView, QByteArrayView>> keyAndValue() const {
        if (isComment() || sectionName()) return std::nullopt;
        const QByteArrayView c = content();
        const qsizetype equals = c.indexOf('=');
        if (equals < 0) return std::nullopt;
        QByteArrayView value = trimmed(c.sliced(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.sliced(1, value.size() - 2);
        return std::pair{trimmed(c.first(equals)), value};
    }
};

// CR LF, a bare LF and a bare CR each end a line, for reading and writing
// alike: were a bare CR not a line end here, a key written after a last
// line that ends in one would be glued to that line's value. Each break is
// kept as it was.
QList<Line> splitLines(QByteArrayView file) {
    QList<Line> lines;
    qsizetype start = 0;
    while (start < file.size()) {
        qsizetype stop = start;
        while (stop < file.size() && file[stop] != '\r' && file[stop] != '\n') ++stop;
        Line line;
        line.text = file.sliced(start, stop - start).toByteArray();
        qsizetype next = stop;
        if (next < file.size() && file[next] == '\r') ++next;
        if (next < file.size() && file[next] == '\n') ++next;
        line.end = file.sliced(stop, next - stop).toByteArray();
        lines.append(line);
        start = next;
    }
    return lines;
}

QByteArray joinLines(const QList<Line>& lines) {
    QByteArray file;
    for (const Line& line : lines) file += line.text + line.end;
    return file;
}

// Where the named section starts (the index of its header) and ends (one
// past its last line); nothing when the file lacks it.
std::optional<std::pair<qsizetype, qsizetype>> findSection(const QList<Line>& lines, const QString& section) {
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = lines[i].sectionName();
        if (!name || !sameName(*name, section)) continue;
        qsizetype end = i + 1;
        while (end < lines.size() && !lines[end].sectionName()) ++end;
        return std::pair{i, end};
    }
    return std::nullopt;
}

// A value is written so that reading it back gives it unchanged: blanks at
// either end, or quotes around it, would be dropped by a reader, so such a
// value goes into one pair of quotes. A line break cannot live in a line
// of the file at all and is left out.
QByteArray encodedValue(const QString& value) {
    QString v = value;
    v.remove(u'\r').remove(u'\n');
    const bool needsQuotes = !v.isEmpty() && (v.front().isSpace() || v.back().isSpace() ||
                                               (v.size() >= 2 && v.front() == u'"' && v.back() == u'"'));
    const QByteArray bytes = cp932::encode(v);
    return needsQuotes ? '"' + bytes + '"' : bytes;
}

}  // namespace

std::optional<QByteArray> FindProfileValue(QByteArrayView file, const QString& section, const QString& key) {
    const QList<Line> lines = splitLines(file);
    const auto range = findSection(lines, section);
    if (!range) return std::nullopt;
    for (qsizetype i = range->first + 1; i < range->second; ++i) {
        const auto entry = lines[i].keyAndValue();
        if (entry && sameName(entry->first, key)) return entry->second.toByteArray();
    }
    return std::nullopt;
}

QByteArray SetProfileValue(QByteArrayView file, const QString& section, const QString& key, const QString& value) {
    QList<Line> lines = splitLines(file);
    // A last line without its break gets one before anything follows it.
    if (!lines.isEmpty() && lines.back().end.isEmpty()) lines.back().end = kNewline;

    const QByteArray newEntry = cp932::encode(key) + '=' + encodedValue(value);
    const auto range = findSection(lines, section);
    if (!range) {
        lines.append(Line{'[' + cp932::encode(section) + ']', kNewline});
        lines.append(Line{newEntry, kNewline});
        return joinLines(lines);
    }
    qsizetype lastEntry = range->first;
    for (qsizetype i = range->first + 1; i < range->second; ++i) {
        const auto entry = lines[i].keyAndValue();
        if (!entry) continue;
        if (sameName(entry->first, key)) {
            // In place, keeping the key as the file spells it.
            lines[i].text = entry->first.toByteArray() + '=' + encodedValue(value);
            return joinLines(lines);
        }
        lastEntry = i;
    }
    // A new key goes right after the section's last entry, before any blank
    // or comment lines that lead into the next section.
    lines.insert(lastEntry + 1, Line{newEntry, kNewline});
    return joinLines(lines);
}

QByteArray RemoveProfileSection(QByteArrayView file, const QString& section) {
    QList<Line> lines = splitLines(file);
    bool removed = false;
    while (const auto range = findSection(lines, section)) {
        lines.remove(range->first, range->second - range->first);
        removed = true;
    }
    return removed ? joinLines(lines) : file.toByteArray();
}

Status UpdateProfileFile(const QString& path, const std::function<QByteArray(QByteArray)>& change,
                         std::optional<mode_t> mode) {
    const Result<std::optional<QByteArray>> existing = ReadFileIfPresent(path);
    if (!existing) return Failure{existing.error()};
    const std::optional<QByteArray>& before = existing.value();
    const QByteArray after = change(before.value_or(QByteArray()));
    if (before && after == *before) return success();
    return WriteFileSafely(path, after, mode);
}

QByteArray ReadProfileFile(const QString& path) { return ReadWholeFile(path).value_or(QByteArray()); }

QString ProfileString(QByteArrayView file, const QString& section, const QString& key, qsizetype bufferSize) {
    const auto value = FindProfileValue(file, section, key);
    if (!value) return {};
    return cp932::decode(cp932::truncate(*value, bufferSize - 1));
}

bool ProfileSwitch(QByteArrayView file, const QString& section, const QString& key, qsizetype bufferSize) {
    const QString text = ProfileString(file, section, key, bufferSize);
    return !text.isEmpty() && NumericValue(text) == 1.0;
}

Status WriteProfileStrings(const QString& path, const QString& section, const std::vector<ProfileEntry>& entries,
                           std::optional<mode_t> mode) {
    // A file that is there but cannot be read must not be replaced by one
    // that holds only the new entries.
    const Result<std::optional<QByteArray>> existing = ReadFileIfPresent(path);
    if (!existing) return Failure{existing.error()};
    QByteArray file = existing.value().value_or(QByteArray());
    for (const ProfileEntry& entry : entries) file = SetProfileValue(file, section, entry.key, entry.value);
    return WriteFileSafely(path, file, mode);
}

}  // namespace lumopet
