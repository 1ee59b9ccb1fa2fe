#pragma once

#include <QString>

#include <chrono>
#include <optional>

// Lengths of time as typed on the command line: a whole number and a unit,
// ms, s, m or h. A bare number is taken in `bareUnit`, or refused when none
// is given. At most 2,147,483,647 ms (about 24 days), what a timer takes.
//   parse("500ms") == 500 ms        parse("8h") == 28,800,000 ms
//   parse("2")     == nothing       parse("2", 1ms) == 2 ms
namespace DurationText {

std::optional<std::chrono::milliseconds>
parse(const QString &text, std::optional<std::chrono::milliseconds> bareUnit = std::nullopt);

// The shortest exact form: 90000 ms is "1m30s", 1500 ms "1s500ms".
QString format(std::chrono::milliseconds duration);

} // namespace DurationText
