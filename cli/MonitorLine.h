#pragma once

#include "CsvLog.h"
#include "Exchange.h"
#include "LineKeeper.h"
#include "LinePort.h"
#include "LineTally.h"
#include "LoopbackCheck.h"
#include "MonitorConfig.h"
#include "PortSession.h"
#include "QtTimer.h"
#include "SteadyClock.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

// One line `commcheck-cli monitor` watches: its own port, kept open by a
// LineKeeper, and its own checking station probing at the line's interval
// while the port is up. What the station reports goes into the line's tally
// (and its log, if it has one), and nothing else is kept of it: a monitor
// runs for months.
//
// A probe still out when the port is lost is counted lost; while the port
// is down no probe goes out; once it is back, probing starts again.
class MonitorLine : public QObject {
    Q_OBJECT
public:
    explicit MonitorLine(const MonitorConfig::Line &line, QObject *parent = nullptr);

    // Opens the line's log, where it has one; false, with logError(), when
    // it cannot be written.
    bool openLog();
    QString logError() const { return logError_; }

    // Opens the port and starts probing; up() or down() tells how it went.
    void start();
    // No more probes, no more tries; the port is closed. A probe still out
    // is counted as nothing.
    void stop();

    const QString &name() const { return name_; }
    // The port as the configuration names it.
    const QString &port() const { return options_.port; }
    const LineTally &tally() const { return tally_; }
    bool isUp() const { return keeper_.isUp(); }
    // Times the open port was lost.
    int losses() const { return keeper_.losses(); }

signals:
    // The port is open and probing (re)starts; `note` is what the open took
    // without the device's word, if anything.
    void up(const QString &note);
    // The port could not be opened or was lost; tried again in `retryIn`.
    void down(const QString &reason, bool lost, std::chrono::milliseconds retryIn);
    // The log took no more rows; the line goes on unlogged.
    void logFailed(const QString &error);

private:
    void onUp();
    void onDown(const QString &reason, bool lost, std::chrono::milliseconds retryIn);
    // Counts and logs `exchange`, numbered in the line's whole life.
    void record(Exchange exchange, bool logged);

    QString name_;
    CliOptions options_;

    LinePort port_;
    PortSession session_;
    QtTimer retryTimer_;
    LineKeeper keeper_;

    SteadyClock clock_;
    QtTimer probeTimer_;
    QtTimer pollTimer_;
    LoopbackCheck check_;

    LineTally tally_;
    CsvLog log_;
    bool logging_ = false;
    QString logError_;

    // The station numbers its probes from 1 at each (re)start; the log goes
    // on from the numbers before.
    std::uint64_t sequenceBase_ = 0;
    std::uint64_t sequence_ = 0; // of the last probe sent, in the line's life
    // The probe out, for counting it lost should the port go.
    std::optional<std::chrono::nanoseconds> outSince_;
};
