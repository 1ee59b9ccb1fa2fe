#pragma once

#include "CliOptions.h"

#include <QString>

// The values of commcheck-cli's options read from their text, one way
// wherever they are written: on the command line (--baud 9600) and in
// monitor's file (baud = 9600). Each is read by its option's name, without
// the dashes; a value that will not do is refused with the reason, in
// words that follow the option's name:
//   set(options, "baud", "x") == "must be a whole number from 1 to 2147483647, not \"x\""
//   set(options, "interval", "2s") sets options.interval to 2000 ms
// What one value cannot tell (--count with --duration, a warning limit
// above the critical one) is the command line's to refuse.
class OptionValues {
public:
    // Sets the field of `options` that the option `name` stands for from
    // `text`; an empty string when done, else why not. The names: text,
    // interval, timeout, duration, count, precise (true, false, yes, no, 1
    // or 0), format, max-errors, max-lost, max-p95 and their warn- and crit-
    // forms, log, for, reconnect (as precise), metrics-listen, baud,
    // data-bits, parity, stop-bits and flow.
    static QString set(CliOptions &options, const QString &name, const QString &text);
};
