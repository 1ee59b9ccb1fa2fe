#pragma once

#include "StatusLine.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdio>

struct CliOptions;
class CsvLog;
class PortSession;

// One command of commcheck-cli on an open port. Every command has the same
// life cycle: start() sets the run going and returns; the run ends by itself,
// on stop() or when the port is lost; then, once and from the event loop,
// the port is closed, the run prints its end and finished() reports the exit
// code. A lost port and a log that stops taking rows are handled here for
// every run alike, and their exit codes outrank the run's own (ExitCode.h).
class CliRun : public QObject {
    Q_OBJECT
public:
    ~CliRun() override;

    virtual void start() = 0;
    // Asks the run to end; `why` ("stopped by SIGINT") goes into what it
    // prints at its end, where that tells why.
    virtual void stop(const QString &why) = 0;

signals:
    // Once per run, the port closed and the run's end printed.
    void finished(int exitCode);

protected:
    CliRun(const CliOptions &options, PortSession &session, std::FILE *out, std::FILE *err,
           QObject *parent);

    // Rows go to `log` from here on (none when null); `activity` names the
    // run in the note that it goes on without its log ("the check").
    void keepLog(CsvLog *log, const QString &activity);
    // Adds a row to the log, if there is one. The first row the log does not
    // take ends the log: a note on the error output says so, the run goes on,
    // and it ends with ExitLogFailed.
    void log(const QStringList &fields);

    // The open port went away before the run began to end (see portLost()).
    virtual void onPortLost() = 0;
    // The run keeps its line through losses itself (check --reconnect): a
    // lost port neither ends it nor sets its exit code.
    void keepLineThroughLosses() { keepsLine_ = true; }
    // Makes the run end with ExitPortLost; reportPortLoss() tells `reason`.
    void notePortLost(const QString &reason);
    bool portLost() const { return portLost_; }
    // "port ... lost: <reason>" on the error output, on a line of its own.
    void reportPortLoss();

    // The run ends: from here on a loss of the port is no news, and the
    // port is closed, printEnd() called and finished() emitted when the event
    // loop comes round (this may run inside the port's own signal, which goes
    // on using the port after it returns). Only the first call counts.
    void endSoon();
    bool ending() const { return ending_; }

    // What the run prints at its end, with the port closed and the status
    // line cleared.
    virtual void printEnd() = 0;
    // The run's exit code where it kept its port and its log.
    virtual int exitCode() const = 0;
    // The exit code the run ends with: a lost port and a failed log first.
    int endCode() const;
    // The code the program exits with for `endCode`; the same unless a run
    // reports in terms of its own.
    virtual int reportedCode(int endCode) const { return endCode; }
    // Why the port was lost, and why the log failed; empty if they did not.
    QString lostReason() const { return lostReason_; }
    QString logError() const { return logError_; }

    const CliOptions &options_;
    PortSession &session_;
    std::FILE *const out_;
    std::FILE *const err_;
    // The live figures on a terminal, for the runs that show them; cleared
    // before every message. On the error output where the standard output
    // is for a program to read (a format other than text).
    StatusLine status_;

private:
    void finish();

    CsvLog *log_ = nullptr;
    QString activity_;
    QString lostReason_;
    QString logError_;
    bool portLost_ = false;
    bool logFailed_ = false;
    bool ending_ = false;
    bool keepsLine_ = false;
};
