#pragma once

#include "CliRun.h"
#include "LoopbackCheck.h"
#include "QtTimer.h"
#include "SteadyClock.h"

#include <QElapsedTimer>

#include <cstdio>

struct CliOptions;
class CsvLog;
class PortSession;

// `commcheck-cli answer`: an answering station on an open port, sending the
// text back on each arrival of it until asked to stop or the port is lost.
// Each answer is logged with what arrived; a terminal shows how many so far.
class AnswerRun : public CliRun {
    Q_OBJECT
public:
    AnswerRun(const CliOptions &options, PortSession &session, CsvLog *log, std::FILE *out,
              std::FILE *err, QObject *parent = nullptr);

    void start() override;
    void stop(const QString &why) override;

private:
    void onAnswered(const QString &arrived);
    void onPortLost() override;
    void printEnd() override;
    int exitCode() const override;

    SteadyClock clock_;
    QtTimer probeTimer_; // never started: an answering station sends no probes
    QtTimer pollTimer_;
    LoopbackCheck check_;
    QElapsedTimer runTime_;
    std::uint64_t answers_ = 0;
    QString why_;
};
