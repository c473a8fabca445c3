#include "core/settings_files/numeric_value.h"

#include <QString>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace lumopet {
namespace {

bool isIgnoredBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

double radixValue(const QString& digits, int base) {
    // Four hex digits (or six octal) are a 16-bit integer and eight hex
    // digits a 32-bit one, so "&HFFFF" is -1 as it always was.
    bool ok = false;
    const qulonglong raw = digits.left(base == 16 ? 8 : 11).toULongLong(&ok, base);
    if (!ok) return 0;
    if (raw <= 0xFFFF) return static_cast<std::int16_t>(static_cast<std::uint16_t>(raw));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(raw));
}

}  // namespace

double NumericValue(QStringView text) {
    QString s;
    for (QChar c : text)
        if (!isIgnoredBlank(c)) s.append(c);

    if (s.size() >= 2 && s[0] == u'&') {
        const QChar kind = s[1].toUpper();
        const int base = kind == u'H' ? 16 : kind == u'O' ? 8 : 0;
        if (base == 0) return 0;
        qsizetype end = 2;
        while (end < s.size()) {
            bool ok = false;
            QString(s[end]).toInt(&ok, base);
            if (!ok) break;
            ++end;
        }
        return radixValue(s.mid(2, end - 2), base);
    }

    // Take the longest prefix of the form [sign] digits [. digits] [e|d [sign] digits].
    std::string number;
    qsizetype i = 0;
    auto digitsFrom = [&](qsizetype& pos) {
        qsizetype count = 0;
        while (pos < s.size() && s[pos] >= u'0' && s[pos] <= u'9') {
            number += static_cast<char>(s[pos].unicode());
            ++pos;
            ++count;
        }
        return count;
    };
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) number += static_cast<char>(s[i++].unicode());
    qsizetype mantissaDigits = digitsFrom(i);
    if (i < s.size() && s[i] == u'.') {
        number += '.';
        ++i;
        mantissaDigits += digitsFrom(i);
    }
    if (mantissaDigits == 0) return 0;
    if (i < s.size() && (s[i].toLower() == u'e' || s[i].toLower() == u'd')) {
        std::string withoutExponent = number;
        qsizetype pos = i + 1;
        number += 'e';
        if (pos < s.size() && (s[pos] == u'+' || s[pos] == u'-')) number += static_cast<char>(s[pos++].unicode());
        if (digitsFrom(pos) == 0) number = withoutExponent;
    }
    // from_chars, unlike strtod, ignores the C locale's decimal point.
    if (number[0] == '+') number.erase(0, 1);
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        if (number.find("e-") != std::string::npos) return 0;  // too small: underflow
        return number[0] == '-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    return value;
}

std::int16_t RoundToInt16(double value) {
    constexpr double low = std::numeric_limits<std::int16_t>::min();
    constexpr double high = std::numeric_limits<std::int16_t>::max();
    if (std::isnan(value)) return 0;
    // nearbyint rounds halves to even in the default rounding mode.
    const double rounded = std::nearbyint(value);
    if (rounded <= low) return std::numeric_limits<std::int16_t>::min();
    if (rounded >= high) return std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(rounded);
}

}  // namespace lumopet
