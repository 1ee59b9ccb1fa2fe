#include "MonitorRun.h"

#include "Console.h"
#include "DurationText.h"
#include "ExitCode.h"
#include "LineKeeper.h"
#include "MonitorLine.h"

MonitorRun::MonitorRun(const QList<MonitorConfig::Line> &lines, std::FILE *out, std::FILE *err,
                       QObject *parent)
    : QObject(parent), told_(std::size_t(lines.size())), out_(out), err_(err)
{
    lines_.reserve(std::size_t(lines.size()));
    for (const MonitorConfig::Line &line : lines)
        lines_.push_back(std::make_unique<MonitorLine>(line));
    for (std::size_t i = 0; i < lines_.size(); ++i)
        watch(*lines_[i], told_[i]);
}

MonitorRun::~MonitorRun() = default;

bool MonitorRun::openLogs(QString *error)
{
    for (const auto &line : lines_) {
        if (!line->openLog()) {
            if (error)
                *error = QStringLiteral("line %1: %2").arg(line->name(), line->logError());
            return false;
        }
    }
    return true;
}

void MonitorRun::watch(MonitorLine &line, Told &told)
{
    const QString who = QStringLiteral("line %1 (%2)").arg(line.name(), line.port());
    connect(&line, &MonitorLine::up, this, [this, who, &told](const QString &note) {
        told = Told{};
        say(note.isEmpty() ? QStringLiteral("%1 up").arg(who)
                           : QStringLiteral("%1 up; %2").arg(who, note));
    });
    connect(
        &line, &MonitorLine::down, this,
        [this, who, &told](const QString &reason, bool lost, std::chrono::milliseconds retryIn) {
            const bool atLongest = retryIn >= LineKeeper::kLongestRetry;
            // A line that stays down the same way is told once a try
            // while the waits still grow, then no more: one line a
            // minute for a device gone for good is noise.
            if (told.down && told.reason == reason && told.atLongestWait && atLongest)
                return;
            // The reason names the port and says whether it was lost or
            // could not be opened.
            const QString what = QStringLiteral("%1: %2").arg(
                told.down && !lost ? QStringLiteral("still down") : QStringLiteral("down"), reason);
            say(QStringLiteral("%1 %2; next try in %3")
                    .arg(who, what, DurationText::format(retryIn)));
            told = Told{true, reason, atLongest};
        });
    connect(&line, &MonitorLine::logFailed, this, [this, who](const QString &error) {
        say(QStringLiteral("%1: %2; the line goes on unlogged").arg(who, error));
    });
}

void MonitorRun::say(const QString &text)
{
    Console::write(err_, QStringLiteral("commcheck-cli: %1\n").arg(text));
}

void MonitorRun::start()
{
    runTime_.start();
    for (const auto &line : lines_)
        line->start();
}

void MonitorRun::stop(const QString &why)
{
    if (stopped_)
        return;
    stopped_ = true;
    // Summed up as the lines were when asked: each up or down, not all
    // closed.
    QString summary;
    for (const auto &line : lines_)
        summary += summaryOf(*line) + u'\n';
    for (const auto &line : lines_)
        line->stop();
    say(QStringLiteral("monitor %1 after %2")
            .arg(why, DurationText::format(std::chrono::milliseconds(runTime_.elapsed()))));
    Console::write(out_, summary);
    QMetaObject::invokeMethod(
        this, [this] { emit finished(ExitOk); }, Qt::QueuedConnection);
}

QList<const MonitorLine *> MonitorRun::lines() const
{
    QList<const MonitorLine *> watched;
    watched.reserve(qsizetype(lines_.size()));
    for (const auto &line : lines_)
        watched.append(line.get());
    return watched;
}

QString MonitorRun::summaryOf(const MonitorLine &line)
{
    const LineTally &tally = line.tally();
    return QStringLiteral("%1 (%2): %3  probes %4  exchanges %5  errors %6  lost %7  late %8  "
                          "port losses %9")
        .arg(line.name(), line.port(), line.isUp() ? QStringLiteral("up") : QStringLiteral("down"))
        .arg(tally.probes())
        .arg(tally.exchanges())
        .arg(tally.errors())
        .arg(tally.lost())
        .arg(tally.late())
        .arg(line.losses());
}
