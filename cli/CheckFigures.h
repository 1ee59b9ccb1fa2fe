#pragma once

#include "Exchange.h"
#include "ExchangeRecord.h"

#include <QString>

#include <cstdint>

// The figures of `commcheck-cli check` as it shows them: its live status
// line and the figures of its summary. They are read from an ExchangeRecord
// fed as the window feeds its own (every probe's end and every error poll),
// so that the command line and the window's chart report the same counts
// and the same percentiles for the same exchanges; late replies and a probe
// still awaited at the end, which the window never reports, are counted too.
class CheckFigures {
public:
    void add(const Exchange &exchange);

    // The whole figures, percentiles included.
    const ExchangeRecord::Figures &figures() const { return record_.figures(); }
    // The figures but the percentiles: cheap at every exchange.
    ExchangeRecord::Figures totals() const { return record_.totals(); }

    // The status line after `probes` probes were sent:
    //   "last 0.412  mean 0.398  max 1.020  min 0.301 ms  count 12  errors 0  lost 0  late 0"
    QString statusText(std::uint64_t probes) const;
    // The summary's lines from "probes" to "p99", each name in 10 columns:
    //   "probes     20\ncount      20\n...p99        51.475 ms\n"
    QString summaryLines(std::uint64_t probes) const;

private:
    ExchangeRecord record_;
    double lastMs_ = 0; // of the last exchange that ended Ok
};
