#include "CheckRun.h"

#include "Console.h"
#include "CsvLog.h"
#include "DurationText.h"
#include "ExchangeCsv.h"
#include "ExitCode.h"
#include "PortSession.h"

CheckRun::CheckRun(const CliOptions &options, PortSession &session, CsvLog *log, std::FILE *out,
                   std::FILE *err, QObject *parent)
    : QObject(parent), options_(options), session_(session), log_(log), out_(out), err_(err),
      check_(session.port(), clock_, probeTimer_, pollTimer_),
      status_(out, Console::isTerminal(out))
{
    check_.setText(options.text);
    check_.setProbesEnabled(true);
    check_.setReplyTimeout(options.timeout);
    check_.setPrecise(options.precise);

    connect(&check_, &LoopbackCheck::probeSent, this, [this] {
        ++probes_;
        if (times_.count() == 0)
            showStatus();
    });
    connect(&check_, &LoopbackCheck::exchangeCompleted, this, &CheckRun::onExchange);
    connect(&check_, &LoopbackCheck::errorCounted, this, [this](const Statistics &statistics) {
        errorPolls_ = std::uint64_t(statistics[Statistics::Errors]);
        showStatus();
    });
    connect(&session_, &PortSession::lost, this,
            [this](int, const QString &reason) { onPortLost(reason); });

    durationTimer_.setSingleShot(true);
    durationTimer_.setTimerType(Qt::PreciseTimer);
    connect(&durationTimer_, &QTimer::timeout, this, [this] {
        stop(QStringLiteral("%1 passed").arg(DurationText::format(*options_.duration)));
    });
}

void CheckRun::start()
{
    runTime_.start();
    // Whatever waited in the port before the run is no reply to it.
    session_.port().input();
    check_.portOpened();
    check_.beginRun();
    check_.startStop(qint32(options_.interval.count()));
    check_.probe();
    if (options_.duration)
        durationTimer_.start(*options_.duration);
}

void CheckRun::onExchange(const Exchange &exchange)
{
    if (stopping_)
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
    }
    log(ExchangeCsv::fields(exchange));
    showStatus();
    if (options_.count && ended_ >= *options_.count)
        stop(QStringLiteral("%1 probes ended").arg(ended_));
}

void CheckRun::log(const QStringList &fields)
{
    if (log_ == nullptr || !log_->isOpen())
        return;
    if (!log_->addRow(fields)) {
        status_.clear();
        Console::write(err_, QStringLiteral("commcheck-cli: %1; the check goes on unlogged\n")
                                 .arg(log_->errorString()));
        log_ = nullptr;
    }
}

void CheckRun::showStatus()
{
    if (times_.count() == 0) {
        status_.show(QStringLiteral("probe %1 sent, no reply yet  errors %2  lost %3")
                         .arg(probes_)
                         .arg(errors())
                         .arg(lost_));
        return;
    }
    status_.show(QString::asprintf("last %.3f  mean %.3f  max %.3f  min %.3f ms  count %llu  "
                                   "errors %llu  lost %llu",
                                   last_, times_.mean(), times_.max(), times_.min(),
                                   static_cast<unsigned long long>(times_.count()),
                                   static_cast<unsigned long long>(errors()),
                                   static_cast<unsigned long long>(lost_)));
}

void CheckRun::onPortLost(const QString &reason)
{
    if (stopping_)
        return;
    portLost_ = true;
    status_.clear();
    Console::write(err_,
                   QStringLiteral("commcheck-cli: port %1 lost: %2\n").arg(options_.port, reason));
    stop(QStringLiteral("port lost"));
}

void CheckRun::stop(const QString &why)
{
    if (stopping_)
        return;
    stopping_ = true;
    ending_ = why;
    // No probe goes out from here on, so the summary counts what the run sent.
    durationTimer_.stop();
    if (check_.running())
        check_.startStop(std::nullopt);
    // The port is closed later: this may run inside the port's own signal,
    // which goes on using the port after it returns.
    QMetaObject::invokeMethod(this, &CheckRun::finish, Qt::QueuedConnection);
}

void CheckRun::finish()
{
    session_.close();
    status_.clear();
    Console::write(out_, summary());
    emit finished(exitCode());
}

int CheckRun::exitCode() const
{
    if (portLost_)
        return ExitPortLost;
    if (errors() > 0 || lost_ > 0 || times_.count() == 0)
        return ExitFaults;
    return ExitOk;
}

QString CheckRun::summary() const
{
    QString text =
        QStringLiteral("check of %1 ended after %2: %3\n")
            .arg(options_.port, DurationText::format(std::chrono::milliseconds(runTime_.elapsed())),
                 ending_);
    auto line = [&text](const char *name, const QString &value) {
        text += QStringLiteral("%1 %2\n").arg(QLatin1String(name), -7).arg(value);
    };
    auto ms = [this](double value) {
        return times_.count() == 0 ? QStringLiteral("-")
                                   : QString::number(value, 'f', 3) + QStringLiteral(" ms");
    };
    line("probes", QString::number(probes_));
    line("count", QString::number(times_.count()));
    line("errors", QString::number(errors()));
    line("lost", QString::number(lost_));
    line("mean", ms(times_.mean()));
    line("min", ms(times_.min()));
    line("max", ms(times_.max()));
    line("p50", ms(times_.percentile(50)));
    line("p95", ms(times_.percentile(95)));
    line("p99", ms(times_.percentile(99)));
    return text;
}
