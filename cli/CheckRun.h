#pragma once

#include "CheckFigures.h"
#include "CheckReport.h"
#include "CheckVerdict.h"
#include "CliRun.h"
#include "Exchange.h"
#include "LineKeeper.h"
#include "LoopbackCheck.h"
#include "QtTimer.h"
#include "SteadyClock.h"

#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

struct CliOptions;
class CsvLog;
class PortSession;

// `commcheck-cli check`: a checking station on an open port. Probes at the
// interval (the first at once), shows the figures on a live status line,
// logs every exchange, and at its end (the count or the duration reached, a
// stop request, the port lost) closes the port, prints the summary and
// reports the exit code.
//
// With --reconnect the run opens the port itself and keeps it (LineKeeper):
// a port that cannot be opened or is lost is tried again, the probe out
// when it went counted lost, no probes while it is down, and the run goes
// on once it is back.
class CheckRun : public CliRun {
    Q_OBJECT
public:
    // How long a probe still out when the run is asked to end is given to
    // come back, where no reply timeout is set.
    static constexpr std::chrono::milliseconds kEndGrace{1000};

    CheckRun(const CliOptions &options, PortSession &session, CsvLog *log, std::FILE *out,
             std::FILE *err, QObject *parent = nullptr);

    void start() override;
    // Ends the run once the probe still out (if any) has come back or had its
    // time; asked again, at once. `why` goes into the summary.
    void stop(const QString &why) override;

private:
    void onExchange(Exchange exchange);
    void onUp();
    void onDown(const QString &reason, bool lost, std::chrono::milliseconds retryIn);
    void onPortLost() override;
    void showStatus();
    // Ends the run now: a probe still awaited is unanswered.
    void end();
    void printEnd() override;
    QString summary() const;
    CheckVerdict verdict() const;
    CheckReport report() const;
    int exitCode() const override;
    int reportedCode(int endCode) const override;

    SteadyClock clock_;
    QtTimer probeTimer_;
    QtTimer pollTimer_;
    LoopbackCheck check_;
    QtTimer retryTimer_;
    LineKeeper keeper_;
    QTimer durationTimer_;
    QElapsedTimer runTime_;

    CheckFigures figures_;
    std::uint64_t probes_ = 0;
    std::uint64_t ended_ = 0; // probes that ended, whichever way
    bool stopping_ = false;   // no more probes; the last one is given its time
    // Late replies that no given-up probe accounts for (a second reply to
    // a probe that came back), and the given-up probe whose reply, should
    // it still come, is late but counted already.
    std::uint64_t strayReplies_ = 0;
    std::optional<std::uint64_t> givenUp_;
    QString why_;
    // --reconnect: the station numbers its probes from 1 at each start on
    // the port; the run goes on from the numbers before. The probe out, for
    // counting it lost should the port go.
    std::uint64_t sequenceBase_ = 0;
    std::optional<std::chrono::nanoseconds> outSince_;
    bool wasUp_ = false;    // the port was open once
    bool downTold_ = false; // the port was said to be down since
};
