#pragma once

#include "MonitorConfig.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

class MonitorLine;

// `commcheck-cli monitor`: every line of the configuration watched at once,
// each on its own port and at its own interval, until asked to stop. Each
// change of a line's state is told on the error output as it happens (the
// port up, the port down and when it is tried next); at the stop every port
// is closed and one line per watched line sums it up on the standard output.
class MonitorRun : public QObject {
    Q_OBJECT
public:
    MonitorRun(const QList<MonitorConfig::Line> &lines, std::FILE *out, std::FILE *err,
               QObject *parent = nullptr);
    ~MonitorRun() override;

    // Opens every line's log, before any port; false, with the reason in
    // `error`, when one cannot be written.
    bool openLogs(QString *error);
    // Opens every port and starts probing.
    void start();
    // Ends the run at once: no more probes (one still out counts as
    // nothing), every port closed, the summary printed; then finished().
    void stop(const QString &why);

    // The watched lines, in the configuration's order, for their tallies.
    QList<const MonitorLine *> lines() const;

    // A line's summary at the stop:
    //   "press-3 (/dev/ttyUSB0): up  probes 120  exchanges 118  errors 0  lost 2  late 0  port
    //   losses 1"
    static QString summaryOf(const MonitorLine &line);

signals:
    // Once, from the event loop, after the summary.
    void finished(int exitCode);

private:
    // What is printed of a line's state, to leave out a repeat of it.
    struct Told {
        bool down = false;
        QString reason;
        bool atLongestWait = false;
    };

    void watch(MonitorLine &line, Told &told);
    void say(const QString &text);

    std::vector<std::unique_ptr<MonitorLine>> lines_;
    std::vector<Told> told_;
    std::FILE *const out_;
    std::FILE *const err_;
    QElapsedTimer runTime_;
    bool stopped_ = false;
};
