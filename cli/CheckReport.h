#pragma once

#include "CheckVerdict.h"
#include "ExchangeRecord.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>

// The end of `commcheck-cli check` for a program to read: one JSON object,
// or one line as a monitoring plugin prints it (status, text, performance
// data). The keys and labels are the man page's; what is there stays.
class CheckReport {
public:
    struct Facts {
        QString port;
        QString text; // as typed, escaped
        std::uint64_t probes = 0;
        ExchangeRecord::Figures figures;
        std::chrono::milliseconds duration{0};
        QString ended; // why the run ended: "5 probes ended"
        // Times the port was lost: with --reconnect, each one it came back
        // from; without, the one that ended the run.
        std::uint64_t portLosses = 0;
        int exitCode = 0;
    };

    CheckReport(const Facts &facts, const CheckVerdict &verdict);

    // One line, ended by a line feed: {"port":"/dev/ttyUSB0",...,"exceeded":[]}
    QByteArray json() const;
    // The plugin's state: the verdict's, or UNKNOWN where the run did not
    // get its figures to the end (port lost, log failed).
    CheckVerdict::State state() const;
    // "COMMCHECK OK - 20 of 20 probes came back, p95 1.234 ms | 'probes'=20;;;0; ...\n";
    // `unknownReason`: why the state is UNKNOWN.
    QString pluginLine(const QString &unknownReason) const;
    // The line of a plugin that got no figures at all: "COMMCHECK UNKNOWN - <reason>\n".
    static QString unknownLine(const QString &reason);

private:
    QString performanceData() const;

    Facts facts_;
    CheckVerdict verdict_;
};
