#include "CheckRun.h"

#include "CliOptions.h"
#include "Console.h"
#include "DurationText.h"
#include "ExchangeCsv.h"
#include "ExitCode.h"
#include "PortSession.h"
#include "SerialPort.h"

CheckRun::CheckRun(const CliOptions &options, PortSession &session, CsvLog *log, std::FILE *out,
                   std::FILE *err, QObject *parent)
    : CliRun(options, session, out, err, parent),
      check_(session.port(), clock_, probeTimer_, pollTimer_), keeper_(session, retryTimer_)
{
    keepLog(log, QStringLiteral("the check"));
    check_.setText(options.text);
    check_.setProbesEnabled(true);
    check_.setReplyTimeout(options.timeout);
    check_.setPrecise(options.precise);
    check_.setCompletesOnArrival(options.precise);

    connect(&check_, &LoopbackCheck::probeSent, this, [this] {
        ++probes_;
        outSince_ = clock_.now();
        if (figures_.totals().count == 0)
            showStatus();
    });
    connect(&check_, &LoopbackCheck::exchangeCompleted, this, &CheckRun::onExchange);
    connect(&check_, &LoopbackCheck::lateReply, this, [this](Exchange exchange) {
        if (ending())
            return;
        exchange.sequence += sequenceBase_;
        // A late reply belongs to the last probe that ended: the one given
        // up, counted lost or an error already, or one that came back, and
        // then it is a reply too many.
        if (givenUp_ == exchange.sequence)
            givenUp_.reset();
        else
            ++strayReplies_;
        figures_.add(exchange);
        this->log(ExchangeCsv::fields(exchange));
        showStatus();
    });
    // Errors counted as the window counts them: every poll that found a
    // reply which can no longer match.
    connect(&check_, &LoopbackCheck::errorPolled, this, [this](Exchange exchange) {
        exchange.sequence += sequenceBase_;
        figures_.add(exchange);
        showStatus();
    });

    durationTimer_.setSingleShot(true);
    durationTimer_.setTimerType(Qt::PreciseTimer);
    connect(&durationTimer_, &QTimer::timeout, this, [this] {
        stop(QStringLiteral("%1 passed").arg(DurationText::format(*options_.duration)));
    });

    if (options.reconnect) {
        keepLineThroughLosses();
        connect(&keeper_, &LineKeeper::up, this, &CheckRun::onUp);
        connect(&keeper_, &LineKeeper::down, this, &CheckRun::onDown);
    }
}

void CheckRun::start()
{
    runTime_.start();
    if (options_.duration)
        durationTimer_.start(*options_.duration);
    if (options_.reconnect) {
        keeper_.start(options_.portNumber(), options_.port, options_.line);
        return;
    }
    check_.portOpened();
    check_.beginRun();
    check_.startStop(qint32(options_.interval.count()));
    check_.probe();
}

void CheckRun::onUp()
{
    if (ending())
        return;
    status_.clear();
    // Said where the port was said to be down.
    if (downTold_)
        Console::write(err_, (wasUp_ ? QStringLiteral("commcheck-cli: port %1 is back; checking "
                                                      "again\n")
                                     : QStringLiteral("commcheck-cli: port %1 is open; checking\n"))
                                 .arg(options_.port));
    downTold_ = false;
    // What the open took without the device's word, as at a first open.
    if (const QString note = session_.port().note(); !note.isEmpty())
        Console::write(err_, QStringLiteral("commcheck-cli: %1\n").arg(note));
    wasUp_ = true;
    sequenceBase_ = probes_;
    outSince_.reset();
    check_.portOpened();
    check_.beginRun();
    check_.startStop(qint32(options_.interval.count()));
    if (!stopping_)
        check_.probe();
}

void CheckRun::onDown(const QString &reason, bool lost, std::chrono::milliseconds retryIn)
{
    if (ending())
        return;
    if (check_.running())
        check_.startStop(std::nullopt);
    status_.clear();
    const QString what = lost
                             ? QStringLiteral("port %1 lost: %2").arg(options_.port, reason)
                             : QStringLiteral("cannot open port %1: %2").arg(options_.port, reason);
    downTold_ = true;
    Console::write(err_, QStringLiteral("commcheck-cli: %1; next try in %2\n")
                             .arg(what, DurationText::format(retryIn)));
    // The probe out when the port went could not come back.
    if (const auto since = std::exchange(outSince_, std::nullopt)) {
        Exchange exchange;
        exchange.sequence = probes_ - sequenceBase_;
        exchange.at = QDateTime::currentDateTime();
        exchange.responseMs =
            std::chrono::duration<double, std::milli>(clock_.now() - *since).count();
        exchange.outcome = Exchange::Outcome::Lost;
        onExchange(exchange);
    } else if (stopping_) {
        end();
    } else {
        showStatus();
    }
}

void CheckRun::onExchange(Exchange exchange)
{
    if (ending())
        return;
    outSince_.reset();
    exchange.sequence += sequenceBase_;
    ++ended_;
    if (exchange.outcome == Exchange::Outcome::Ok)
        givenUp_.reset();
    else
        givenUp_ = exchange.sequence;
    figures_.add(exchange);
    log(ExchangeCsv::fields(exchange));
    showStatus();
    if (stopping_)
        end(); // the last probe has come back, or been given up
    else if (options_.count && ended_ >= *options_.count)
        stop(QStringLiteral("%1 probes ended").arg(ended_));
}

void CheckRun::showStatus()
{
    QString text = figures_.statusText(probes_);
    if (options_.reconnect && keeper_.losses() > 0)
        text += QStringLiteral("  port lost %1").arg(keeper_.losses());
    if (options_.reconnect && !keeper_.isUp())
        text += QStringLiteral("  port down");
    status_.show(text);
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
        figures_.add(*awaited);
        log(ExchangeCsv::fields(*awaited));
    }
    if (check_.running())
        check_.startStop(std::nullopt);
    if (options_.reconnect)
        keeper_.stop();
}

void CheckRun::printEnd()
{
    const CheckVerdict verdict = this->verdict();
    // What went over a limit the user gave, for people; a plugin's line
    // says it itself.
    if (options_.format != CliOptions::Format::Nagios) {
        for (const QString &reason : verdict.exceededReasons())
            Console::write(err_, QStringLiteral("commcheck-cli: %1\n").arg(reason));
    }
    switch (options_.format) {
    case CliOptions::Format::Text:
        Console::write(out_, summary());
        break;
    case CliOptions::Format::Json:
        Console::writeBytes(out_, report().json(), Console::kStallLimit);
        break;
    case CliOptions::Format::Nagios: {
        const QString why =
            portLost() ? QStringLiteral("port %1 lost: %2").arg(options_.port, lostReason())
                       : QStringLiteral("the log failed: %1").arg(logError());
        Console::write(out_, report().pluginLine(why));
        break;
    }
    }
}

CheckVerdict CheckRun::verdict() const
{
    return CheckVerdict(CheckVerdict::measuresOf(figures_.figures(), strayReplies_),
                        options_.thresholds);
}

CheckReport CheckRun::report() const
{
    CheckReport::Facts facts;
    facts.port = options_.port;
    facts.text = options_.text;
    facts.probes = probes_;
    facts.figures = figures_.figures();
    facts.duration = std::chrono::milliseconds(runTime_.elapsed());
    facts.ended = why_;
    facts.portLosses = options_.reconnect ? keeper_.losses() : portLost() ? 1 : 0;
    facts.exitCode = endCode();
    return CheckReport(facts, verdict());
}

int CheckRun::exitCode() const
{
    return verdict().exitCode();
}

int CheckRun::reportedCode(int endCode) const
{
    if (options_.format != CliOptions::Format::Nagios)
        return endCode;
    return int(report().state());
}

QString CheckRun::summary() const
{
    QString text =
        QStringLiteral("check of %1 ended after %2: %3\n")
            .arg(options_.port, DurationText::format(std::chrono::milliseconds(runTime_.elapsed())),
                 why_);
    text += figures_.summaryLines(probes_);
    if (options_.reconnect)
        text +=
            QStringLiteral("%1 %2\n").arg(QStringLiteral("port lost"), -10).arg(keeper_.losses());
    return text;
}
