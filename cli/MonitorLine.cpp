#include "MonitorLine.h"

#include "ExchangeCsv.h"

MonitorLine::MonitorLine(const MonitorConfig::Line &line, QObject *parent)
    : QObject(parent), name_(line.name), options_(line.options), session_(port_),
      keeper_(session_, retryTimer_), check_(port_, clock_, probeTimer_, pollTimer_)
{
    check_.setText(options_.text);
    check_.setProbesEnabled(true);
    check_.setReplyTimeout(options_.timeout);
    check_.setPrecise(options_.precise);
    check_.setCompletesOnArrival(options_.precise);

    connect(&check_, &LoopbackCheck::probeSent, this, [this] {
        tally_.probeSent();
        ++sequence_;
        outSince_ = clock_.now();
    });
    connect(&check_, &LoopbackCheck::exchangeCompleted, this, [this](const Exchange &exchange) {
        outSince_.reset();
        record(exchange, true);
    });
    connect(&check_, &LoopbackCheck::lateReply, this,
            [this](const Exchange &exchange) { record(exchange, true); });
    // Errors counted as check counts them: every poll that found a reply
    // which can no longer match.
    connect(&check_, &LoopbackCheck::errorPolled, this,
            [this](const Exchange &exchange) { record(exchange, false); });

    connect(&keeper_, &LineKeeper::up, this, &MonitorLine::onUp);
    connect(&keeper_, &LineKeeper::down, this, &MonitorLine::onDown);
}

bool MonitorLine::openLog()
{
    if (options_.logPath.isEmpty())
        return true;
    logging_ = log_.open(options_.logPath);
    if (!logging_)
        logError_ = log_.errorString();
    return logging_;
}

void MonitorLine::start()
{
    keeper_.start(options_.portNumber(), options_.port, options_.line);
}

void MonitorLine::stop()
{
    outSince_.reset();
    if (check_.running())
        check_.startStop(std::nullopt);
    keeper_.stop();
    tally_.setUp(false);
}

void MonitorLine::onUp()
{
    tally_.setUp(true);
    sequenceBase_ = sequence_;
    outSince_.reset();
    check_.portOpened();
    check_.beginRun();
    check_.startStop(qint32(options_.interval.count()));
    emit up(port_.note());
    check_.probe();
}

void MonitorLine::onDown(const QString &reason, bool lost, std::chrono::milliseconds retryIn)
{
    tally_.setUp(false);
    if (check_.running())
        check_.startStop(std::nullopt);
    // The probe out when the line went could not come back.
    if (const auto since = std::exchange(outSince_, std::nullopt)) {
        Exchange exchange;
        exchange.sequence = sequence_ - sequenceBase_;
        exchange.at = QDateTime::currentDateTime();
        exchange.responseMs =
            std::chrono::duration<double, std::milli>(clock_.now() - *since).count();
        exchange.outcome = Exchange::Outcome::Lost;
        record(exchange, true);
    }
    emit down(reason, lost, retryIn);
}

void MonitorLine::record(Exchange exchange, bool logged)
{
    tally_.add(exchange);
    if (!logged || !logging_)
        return;
    exchange.sequence += sequenceBase_;
    if (!log_.addRow(ExchangeCsv::fields(exchange))) {
        logging_ = false;
        emit logFailed(log_.errorString());
    }
}
