#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Numbers typed into the window and numbers shown in it.
namespace NumberText {

// Reads decimal notation: optional sign, digits with an optional fraction,
// an optional exponent, spaces or tabs around. "1000", " -2.5e3 ", ".5".
std::optional<double> parse(const QString &text);

// parse(), rounded to the nearest whole number (a half to the even
// neighbour), and only if the result fits the range.
std::optional<qint16> toInt16(const QString &text);
std::optional<qint32> toInt32(const QString &text);

// A single-precision value as text: at most seven significant digits, a minus
// sign when negative, no leading space, no trailing zeros, exponent form when
// the integer part needs more than seven digits. 62.5f -> "62.5", 12 -> "12",
// 1e8f -> "1E+08".
QString fromSingle(float value);

} // namespace NumberText
