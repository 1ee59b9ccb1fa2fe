#pragma once

#include "CliOptions.h"
#include "LoopbackCheck.h"
#include "QtTimer.h"
#include "StatusLine.h"
#include "SteadyClock.h"

#include <QElapsedTimer>
#include <QObject>

#include <cstdio>

class CsvLog;
class PortSession;

// `commcheck-cli answer`: an answering station on an open port, sending the
// text back on each arrival of it until asked to stop or the port is lost.
// Each answer is logged with what arrived; a terminal shows how many so far.
class AnswerRun : public QObject {
    Q_OBJECT
public:
    AnswerRun(const CliOptions &options, PortSession &session, CsvLog *log, std::FILE *out,
              std::FILE *err, QObject *parent = nullptr);

    void start();
    void stop(const QString &why);

signals:
    void finished(int exitCode);

private:
    void onAnswered(const QString &arrived);
    void finish();

    const CliOptions &options_;
    PortSession &session_;
    CsvLog *log_;
    std::FILE *out_;
    std::FILE *err_;
    SteadyClock clock_;
    QtTimer probeTimer_; // never started: an answering station sends no probes
    QtTimer pollTimer_;
    LoopbackCheck check_;
    StatusLine status_;
    QElapsedTimer runTime_;
    std::uint64_t answers_ = 0;
    bool portLost_ = false;
    bool logFailed_ = false; // rows were lost: the run does not end ok
    bool stopping_ = false;
    QString ending_;
};
