#include "LoopbackCheck.h"

#include "BracketCodes.h"
#include "Clock.h"
#include "Cp932.h"
#include "SerialPort.h"
#include "Timer.h"

#include <QCoreApplication>

#include <algorithm>

LoopbackCheck::LoopbackCheck(SerialPort &port, const Clock &clock, Timer &probeTimer,
                             Timer &pollTimer, QObject *parent)
    : QObject(parent), port_(port), clock_(clock), probeTimer_(probeTimer), pollTimer_(pollTimer)
{
    connect(&probeTimer_, &Timer::timeout, this, &LoopbackCheck::probe);
    connect(&pollTimer_, &Timer::timeout, this, &LoopbackCheck::poll);
    connect(&port_, &SerialPort::readyRead, this, &LoopbackCheck::onBytesArrived);
}

void LoopbackCheck::setTextSource(std::function<QString()> source)
{
    textSource_ = std::move(source);
    textChanged();
}

void LoopbackCheck::setText(const QString &escaped)
{
    setTextSource([escaped] { return escaped; });
}

void LoopbackCheck::textChanged()
{
    expected_.reset();
}

void LoopbackCheck::setProbesEnabled(bool enabled)
{
    probesEnabled_ = enabled;
}

void LoopbackCheck::setReplyTimeout(std::optional<std::chrono::milliseconds> timeout)
{
    replyTimeout_ = timeout;
}

void LoopbackCheck::setPrecise(bool precise)
{
    precise_ = precise;
}

void LoopbackCheck::setCompletesOnArrival(bool completes)
{
    completesOnArrival_ = completes;
}

QString LoopbackCheck::sendText() const
{
    return textSource_ ? textSource_() : QString();
}

const ExpectedText &LoopbackCheck::expected() const
{
    // Compared in the escaped form the received text takes, after the trip
    // through code page 932 the text makes on the line: a text typed with
    // leading zeros, codes of printable characters, double-byte characters,
    // line breaks or characters the code page lacks matches its own echo.
    // Kept until the text changes: a pasted text of megabytes would cost tens
    // of milliseconds at every poll.
    if (!expected_)
        expected_.emplace(BracketCodes::EscapeCodes(
            Cp932::decode(Cp932::encode(BracketCodes::UnescapeCodes(sendText())))));
    return *expected_;
}

QString LoopbackCheck::expectedText() const
{
    return expected().text();
}

void LoopbackCheck::forgetReceived()
{
    rxBuffer_.clear();
    unshown_.clear();
    matchedAt_.reset();
    waiting_ = false;
    lastEnded_.reset();
    watchedLate_.reset();
}

void LoopbackCheck::sendOnce()
{
    if (port_.output(BracketCodes::UnescapeCodes(sendText())) == SerialPort::Output::Refused) {
        // Nothing went out, so nothing starts: the figures and the mode stay.
        emit sendRefused(false);
        return;
    }
    beginRun();
}

void LoopbackCheck::beginRun()
{
    stats_.reset();
    sequence_ = 0;
    forgetReceived();
    mode_ = Mode::Feedback;
    emit runStarted();
}

void LoopbackCheck::receiveOnce()
{
    const QString rx = port_.escapedInput();
    forgetReceived();
    mode_ = Mode::Echo;
    emit replyShown(rx);
}

void LoopbackCheck::portOpened()
{
    mode_ = Mode::Idle;
    forgetReceived();
}

void LoopbackCheck::startStop(std::optional<qint32> interval)
{
    if (mode_ == Mode::Echo) {
        pollTimer_.setInterval(static_cast<int>(kPollInterval.count()));
        return;
    }
    if (mode_ != Mode::Feedback)
        return;
    if (!running_) {
        if (!interval || *interval < 0)
            return;
        probeTimer_.setInterval(*interval);
        running_ = true;
    } else {
        running_ = false;
        probeTimer_.setInterval(0);
        stopChecking();
    }
    emit runningChanged(running_);
}

void LoopbackCheck::stopChecking()
{
    // A probe whose poller is gone can never be matched: forget it and what
    // came back for it, or the next start would show a running check that
    // never sends, or match a new probe with the old one's half reply.
    pollTimer_.setInterval(0);
    forgetReceived();
}

void LoopbackCheck::probe()
{
    if (!probesEnabled_)
        return;
    if (!port_.isOpen()) {
        stopChecking();
        return;
    }
    if (mode_ != Mode::Feedback || waiting_)
        return;
    dropUnread();
    const QString text = BracketCodes::UnescapeCodes(sendText());
    // Read before the bytes are handed over: a reply that comes back while
    // this thread is held up in the write is then never timed too short.
    const auto sentAt = clock_.now();
    if (port_.output(text) == SerialPort::Output::Refused) {
        // Nothing went out: no probe is outstanding, and the next tick tries again.
        emit sendRefused(true);
        return;
    }
    awaited_ = Probe{++sequence_, sentAt};
    waiting_ = true;
    pollTimer_.setInterval(static_cast<int>(kPollInterval.count()));
    emit probeSent();
}

void LoopbackCheck::dropUnread()
{
    // Whatever waits unread came before this probe, so it is no reply to it:
    // the echo of the send click, a reply that came after its probe was
    // given up, a second reply. Each whole text among it is the last
    // probe's, late.
    collect();
    const qsizetype replies = lastEnded_ ? expected().countIn(rxBuffer_) : 0;
    const std::optional<Probe> owner = lastEnded_;
    rxBuffer_.clear();
    unshown_.clear();
    matchedAt_.reset();
    watchedLate_.reset();
    for (qsizetype i = 0; i < replies; ++i)
        reportLate(*owner);
}

void LoopbackCheck::poll()
{
    // Pending clicks and ticks run first; a tick of this timer arriving
    // meanwhile is dropped, so two polls never interleave.
    if (polling_)
        return;
    polling_ = true;
    QCoreApplication::processEvents();
    polling_ = false;

    // Everything below reads the state afresh: the events above may have
    // changed the mode, the text or the port.
    if (!port_.isOpen())
        return;
    if (mode_ == Mode::Feedback && waiting_)
        pollFeedback();
    else if (mode_ == Mode::Feedback && watchedLate_)
        watchLate();
    else if (mode_ == Mode::Echo)
        pollEcho();
}

void LoopbackCheck::onBytesArrived()
{
    // Precise timing: a reply is timed as its last byte arrives, not at the
    // next poll. Errors and give-ups are still judged at the polls only, so
    // they count the same however the bytes are spread.
    if (!precise_ || polling_ || mode_ != Mode::Feedback || !port_.isOpen())
        return;
    if (waiting_) {
        collect();
        if (matchedAt_ && completesOnArrival_)
            judgeFeedback();
    } else if (watchedLate_) {
        watchLate();
    }
}

void LoopbackCheck::collect()
{
    const QString rx = port_.escapedInput();
    if (rx.isEmpty())
        return;
    unshown_ += rx;
    // Only the buffer's first characters are ever compared, so what lies
    // beyond the cap cannot change an outcome: drop it instead of growing
    // without end. The cap fits the expected text and one character more.
    const qsizetype cap = std::max(kRxBufferCap, expected().size() + 1);
    const qsizetype room = cap - rxBuffer_.size();
    rxBuffer_ +=
        room >= rx.size() ? QStringView(rx) : QStringView(rx).left(std::max<qsizetype>(room, 0));
    if (waiting_ && !matchedAt_ && expected().isBegunBy(rxBuffer_))
        matchedAt_ = clock_.now();
}

void LoopbackCheck::pollFeedback()
{
    collect();
    if (!matchedAt_ && expected().isBegunBy(rxBuffer_))
        matchedAt_ = clock_.now(); // an empty text, begun by nothing at all
    judgeFeedback();
}

void LoopbackCheck::judgeFeedback()
{
    if (matchedAt_) {
        recordExchange(*matchedAt_ - awaited_.sentAt, std::exchange(unshown_, {}));
        return;
    }
    unshown_.clear();
    if (!expected().mayBecome(rxBuffer_)) {
        // What came back can no longer become the text, whatever its length.
        stats_.addError();
        emit errorCounted(stats_);
        emit errorPolled(exchangeOf(awaited_, clock_.now() - awaited_.sentAt,
                                    Exchange::Outcome::Error, rxBuffer_));
    }
    giveUpIfLate();
}

void LoopbackCheck::recordExchange(std::chrono::nanoseconds elapsed, const QString &shown)
{
    stats_.addExchange(std::chrono::duration<double>(elapsed).count());
    waiting_ = false;
    matchedAt_.reset();
    lastEnded_ = awaited_;
    emit replyShown(shown);
    pollTimer_.setInterval(0);
    emit statisticsChanged(stats_);
    rxBuffer_.clear();
    emit exchangeCompleted(exchangeOf(awaited_, elapsed, Exchange::Outcome::Ok, {}));
}

Exchange LoopbackCheck::exchangeOf(const Probe &probe, std::chrono::nanoseconds elapsed,
                                   Exchange::Outcome outcome, const QString &received)
{
    Exchange exchange;
    exchange.sequence = probe.sequence;
    exchange.at = QDateTime::currentDateTime();
    exchange.responseMs = std::chrono::duration<double, std::milli>(elapsed).count();
    exchange.outcome = outcome;
    exchange.received = received;
    return exchange;
}

std::optional<Exchange> LoopbackCheck::awaitedProbe() const
{
    if (!waiting_)
        return std::nullopt;
    return exchangeOf(awaited_, clock_.now() - awaited_.sentAt, Exchange::Outcome::Unanswered,
                      rxBuffer_);
}

void LoopbackCheck::reportLate(const Probe &probe)
{
    emit lateReply(exchangeOf(probe, clock_.now() - probe.sentAt, Exchange::Outcome::Late, {}));
}

void LoopbackCheck::giveUpIfLate()
{
    if (!replyTimeout_ || !waiting_)
        return;
    const auto elapsed = clock_.now() - awaited_.sentAt;
    if (elapsed < *replyTimeout_)
        return;
    // A reply still on its way (nothing, or a beginning of the text) is lost;
    // one that can no longer match is an error.
    const Exchange exchange = exchangeOf(awaited_, elapsed,
                                         expected().mayBecome(rxBuffer_) ? Exchange::Outcome::Lost
                                                                         : Exchange::Outcome::Error,
                                         rxBuffer_);
    if (exchange.outcome == Exchange::Outcome::Lost)
        ++stats_.lost;
    const Probe givenUp = awaited_;
    forgetReceived();
    // The poller goes on until the next probe, so that the reply, should it
    // still come, is reported late with the time it really took.
    lastEnded_ = givenUp;
    watchedLate_ = givenUp;
    emit exchangeCompleted(exchange);
}

void LoopbackCheck::watchLate()
{
    collect();
    // Noise before the reply does not hide it.
    rxBuffer_.remove(0, expected().noiseBefore(rxBuffer_));
    if (!expected().isBegunBy(rxBuffer_))
        return;
    const Probe late = *watchedLate_;
    rxBuffer_.clear();
    unshown_.clear();
    watchedLate_.reset();
    pollTimer_.setInterval(0);
    reportLate(late);
}

void LoopbackCheck::pollEcho()
{
    const QString rx = port_.escapedInput();
    // The kept text starts where a text can still begin: characters that
    // can begin none (a stray byte, the end of a text half heard) are
    // dropped as they come, so they spoil at most the answer they fall in.
    rxBuffer_ += rx;
    rxBuffer_.remove(0, expected().noiseBefore(rxBuffer_));
    if (!expected().isBegunBy(rxBuffer_))
        return;
    emit replyShown(rx);
    rxBuffer_.clear();
    if (port_.output(BracketCodes::UnescapeCodes(sendText())) == SerialPort::Output::Refused)
        emit sendRefused(true);
    else
        emit answered(rx);
}
