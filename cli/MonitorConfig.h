#pragma once

#include "CliOptions.h"

#include <QList>
#include <QString>

// The lines one `commcheck-cli monitor` watches, read from an INI file with
// one section per line:
//   [press-3]
//   port = /dev/ttyUSB0        ; a port number, a device, rfc2217:// or socket://
//   text = ABC[13]
//   interval = 1000            ; a bare number is ms; 2s, 1m too
//   timeout = 500              ; required: a lost reply must not stall the line
//   baud = 9600                ; and data-bits, parity, stop-bits, flow
//   precise = true
//   log = /var/log/commcheck/press-3.csv
// The values are those of `check`'s options of the same names; precise is
// true, false, yes, no, 1 or 0, and a relative log is taken from the file's
// folder. Double quotes keep a value as written (a text with a comma, a
// semicolon, outer spaces); a backslash is written \\. A file with any
// mistake is refused whole, naming the file, the section, the key and what
// is wrong, before any port is opened: an unknown or repeated key, a
// missing port, text or timeout, a bad value, two lines with one name, one
// port or one log, and whatever QSettings would not read as written.
class MonitorConfig {
public:
    struct Line {
        QString name;       // the section's name: the line="..." label
        CliOptions options; // command Check; port, text, interval, timeout,
                            // precise, logPath and line settings set
    };
    struct Result {
        QList<Line> lines; // in the file's order; empty when refused
        QString error;     // "FILE: [SECTION] KEY: reason"; empty when read
    };

    static Result read(const QString &path);
};
