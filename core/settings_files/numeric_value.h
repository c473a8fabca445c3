#pragma once
// How the settings files turn a value into a number. The files were always
// read this way, so hand-edited values such as " 1", "1x", "01" or "1.0"
// mean what they always meant.

#include <QStringView>

#include <cstdint>

namespace lumopet {

// The number at the start of the text: blanks, tabs and line feeds anywhere
// are ignored; an optional sign, digits, a decimal point and an exponent
// ("1e2") are read, and reading stops at the first character that cannot
// continue the number. "&H" and "&O" introduce hexadecimal and octal
// integers. No number at all gives 0.
double NumericValue(QStringView text);

// Rounds to the nearest integer, halves to even (2.5 gives 2), as the old
// assignment to a 16-bit integer did. Values beyond the 16-bit range, which
// only a hand-edited file holds, are clamped to it instead of failing; they
// keep their sign, so a huge "APOP=" still means APOP.
std::int16_t RoundToInt16(double value);

}  // namespace lumopet
