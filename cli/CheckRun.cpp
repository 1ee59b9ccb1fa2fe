#include "CheckRun.h"

#include "CliOptions.h"
#include "Console.h"
#include "DurationText.h"
#include "ExchangeCsv.h"
#include "ExitCode.h"
#include "PortSession.h"

CheckRun::CheckRun(const CliOptions &options, PortSession &session, CsvLog *log, std::FILE *out,
                   std::FILE *err, QObject *parent)
    : CliRun(options, session, out, err, parent),
      check_(session.port(), clock_, probeTimer_, pollTimer_)
{
    keepLog(log, QStringLiteral("the check"));
    check_.setText(options.text);
    check_.setProbesEnabled(true);
    check_.setReplyTimeout(options.timeout);
    check_.setPrecise(options.precise);
    check_.setCompletesOnArrival(options.precise);

    connect(&check_, &LoopbackCheck::probeSent, this, [this] {
        ++probes_;
        if (times_.count() == 0)
            showStatus();
    });
    connect(&check_, &LoopbackCheck::exchangeCompleted, this, &CheckRun::onExchange);
    connect(&check_, &LoopbackCheck::lateReply, this, [this](const Exchange &exchange) {
        if (ending())
            return;
        ++late_;
        this->log(ExchangeCsv::fields(exchange));
        showStatus();
    });
    connect(&check_, &LoopbackCheck::errorCounted, this, [this](const Statistics &statistics) {
        errorPolls_ = std::uint64_t(statistics[Statistics::Errors]);
        showStatus();
    });

    durationTimer_.setSingleShot(true);
    durationTimer_.setTimerType(Qt::PreciseTimer);
    connect(&durationTimer_, &QTimer::timeout, this, [this] {
        stop(QStringLiteral("%1 passed").arg(DurationText::format(*options_.duration)));
    });
}

void CheckRun::start()
{
    runTime_.start();
    check_.portOpened();
    check_.beginRun();
    check_.startStop(qint32(options_.interval.count()));
    check_.probe();
    if (options_.duration)
        durationTimer_.start(*options_.duration);
}

void CheckRun::onExchange(const Exchange &exchange)
{
    if (ending())
        return;
    ++ended_;
    switch (exchange.outcome) {
    case Exchange::Outcome::Ok:
        times_.add(exchange.responseMs);
        last_ = exchange.responseMs;
        break;
    case Exchange::Outcome::Error:
        ++errorExchanges_;
        break;
    case Exchange::Outcome::Lost:
        ++lost_;
        break;
    case Exchange::Outcome::Late:
    case Exchange::Outcome::Unanswered:
        break; // not the end of a probe the engine reports here
    }
    log(ExchangeCsv::fields(exchange));
    showStatus();
    if (stopping_)
        end(); // the last probe has come back, or been given up
    else if (options_.count && ended_ >= *options_.count)
        stop(QStringLiteral("%1 probes ended").arg(ended_));
}

void CheckRun::showStatus()
{
    if (times_.count() == 0) {
        status_.show(QStringLiteral("probe %1 sent, no reply yet  errors %2  lost %3  late %4")
                         .arg(probes_)
                         .arg(errors())
                         .arg(lost_)
                         .arg(late_));
        return;
    }
    status_.show(QString::asprintf(
        "last %.3f  mean %.3f  max %.3f  min %.3f ms  count %llu  "
        "errors %llu  lost %llu  late %llu",
        last_, times_.mean(), times_.max(), times_.min(),
        static_cast<unsigned long long>(times_.count()), static_cast<unsigned long long>(errors()),
        static_cast<unsigned long long>(lost_), static_cast<unsigned long long>(late_)));
}

void CheckRun::onPortLost()
{
    reportPortLoss();
    why_ = QStringLiteral("port lost");
    end();
}

void CheckRun::stop(const QString &why)
{
    if (ending())
        return;
    if (stopping_) {
        // Asked again while the last probe is given its time: at once.
        end();
        return;
    }
    stopping_ = true;
    why_ = why;
    // No probe goes out from here on, so the summary counts what the run sent.
    durationTimer_.stop();
    check_.setProbesEnabled(false);
    if (!check_.waiting()) {
        end();
        return;
    }
    // The probe already out is given its time to come back, so that a run
    // ending while a good reply is on its way does not call it unanswered:
    // until it ends, or for its timeout (the engine gives it up then), or
    // for kEndGrace without one.
    const auto grace =
        options_.timeout ? *options_.timeout + 2 * LoopbackCheck::kPollInterval : kEndGrace;
    QTimer::singleShot(grace, this, &CheckRun::end);
}

void CheckRun::end()
{
    if (ending())
        return;
    endSoon();
    // A probe still awaited never came back: not a success.
    if (const auto awaited = check_.awaitedProbe(); awaited && !portLost()) {
        ++unanswered_;
        log(ExchangeCsv::fields(*awaited));
    }
    if (check_.running())
        check_.startStop(std::nullopt);
}

void CheckRun::printEnd()
{
    Console::write(out_, summary());
}

int CheckRun::exitCode() const
{
    if (errors() > 0 || lost_ > 0 || late_ > 0 || unanswered_ > 0 || times_.count() == 0)
        return ExitFaults;
    return ExitOk;
}

QString CheckRun::summary() const
{
    QString text =
        QStringLiteral("check of %1 ended after %2: %3\n")
            .arg(options_.port, DurationText::format(std::chrono::milliseconds(runTime_.elapsed())),
                 why_);
    auto line = [&text](const char *name, const QString &value) {
        text += QStringLiteral("%1 %2\n").arg(QLatin1String(name), -10).arg(value);
    };
    auto ms = [this](double value) {
        return times_.count() == 0 ? QStringLiteral("-")
                                   : QString::number(value, 'f', 3) + QStringLiteral(" ms");
    };
    line("probes", QString::number(probes_));
    line("count", QString::number(times_.count()));
    line("errors", QString::number(errors()));
    line("lost", QString::number(lost_));
    line("late", QString::number(late_));
    line("unanswered", QString::number(unanswered_));
    line("mean", ms(times_.mean()));
    line("min", ms(times_.min()));
    line("max", ms(times_.max()));
    line("p50", ms(times_.percentile(50)));
    line("p95", ms(times_.percentile(95)));
    line("p99", ms(times_.percentile(99)));
    return text;
}
