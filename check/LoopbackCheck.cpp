#include "LoopbackCheck.h"

#include "Clock.h"
#include "PlmMod1.h"
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

QString LoopbackCheck::sendText() const
{
    return textSource_ ? textSource_() : QString();
}

QString LoopbackCheck::expectedText() const
{
    // Compared in the escaped form the received text takes, so that a text
    // typed with leading zeros, codes of printable characters, double-byte
    // characters or line breaks matches its own echo. Kept until the text
    // changes: a pasted text of megabytes would cost tens of milliseconds at
    // every poll.
    if (!expected_)
        expected_ = PlmMod1::EscapeCodes(PlmMod1::UnescapeCodes(sendText()));
    return *expected_;
}

void LoopbackCheck::forgetReceived()
{
    rxBuffer_.clear();
    waiting_ = false;
}

void LoopbackCheck::sendOnce()
{
    if (port_.output(PlmMod1::UnescapeCodes(sendText())) == SerialPort::Output::Refused) {
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
    // A probe whose poller is gone can never be matched: forget it, or the
    // next start would show a running check that never sends.
    pollTimer_.setInterval(0);
    waiting_ = false;
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
    if (port_.output(PlmMod1::UnescapeCodes(sendText())) == SerialPort::Output::Refused) {
        // Nothing went out: no probe is outstanding, and the next tick tries again.
        emit sendRefused(true);
        return;
    }
    sendTime_ = clock_.now();
    waiting_ = true;
    ++sequence_;
    pollTimer_.setInterval(static_cast<int>(kPollInterval.count()));
    emit probeSent();
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
    else if (mode_ == Mode::Echo)
        pollEcho();
}

void LoopbackCheck::onBytesArrived()
{
    // Precise timing: the echo is taken as its last byte arrives, not at the
    // next poll.
    if (precise_ && !polling_ && mode_ == Mode::Feedback && waiting_ && port_.isOpen())
        pollFeedback();
}

QString LoopbackCheck::readEscaped()
{
    const QString rx = port_.escapedInput();
    // Only the buffer's first characters are ever compared, and a text at
    // least as long as the cap is never expected, so what lies beyond the cap
    // cannot change an outcome: drop it instead of growing without end.
    const qsizetype room = kRxBufferCap - rxBuffer_.size();
    rxBuffer_ +=
        room >= rx.size() ? QStringView(rx) : QStringView(rx).left(std::max<qsizetype>(room, 0));
    return rx;
}

void LoopbackCheck::pollFeedback()
{
    const QString rx = readEscaped();
    const QString expected = expectedText();
    const qsizetype n = expected.size();
    if (rxBuffer_.size() >= n && QStringView(rxBuffer_).left(n) == expected) {
        recordExchange(rx);
        return;
    }
    if (n < rxBuffer_.size()) {
        // More came back than was sent, and it does not begin with the text.
        stats_.addError();
        emit errorCounted(stats_);
        emit errorPolled(
            probeExchange(clock_.now() - sendTime_, Exchange::Outcome::Error, rxBuffer_));
    }
    giveUpIfLate();
}

void LoopbackCheck::recordExchange(const QString &lastRead)
{
    const auto elapsed = clock_.now() - sendTime_;
    stats_.addExchange(std::chrono::duration<double>(elapsed).count());
    waiting_ = false;
    emit replyShown(lastRead);
    pollTimer_.setInterval(0);
    emit statisticsChanged(stats_);
    rxBuffer_.clear();
    emit exchangeCompleted(probeExchange(elapsed, Exchange::Outcome::Ok, {}));
}

Exchange LoopbackCheck::probeExchange(std::chrono::nanoseconds elapsed, Exchange::Outcome outcome,
                                      const QString &received) const
{
    Exchange exchange;
    exchange.sequence = sequence_;
    exchange.at = QDateTime::currentDateTime();
    exchange.responseMs = std::chrono::duration<double, std::milli>(elapsed).count();
    exchange.outcome = outcome;
    exchange.received = received;
    return exchange;
}

void LoopbackCheck::giveUpIfLate()
{
    if (!replyTimeout_ || !waiting_)
        return;
    const auto elapsed = clock_.now() - sendTime_;
    if (elapsed < *replyTimeout_)
        return;
    // A reply still on its way (nothing, or a beginning of the text) is lost;
    // one that can no longer match is an error.
    const Exchange exchange = probeExchange(
        elapsed,
        expectedText().startsWith(rxBuffer_) ? Exchange::Outcome::Lost : Exchange::Outcome::Error,
        rxBuffer_);
    if (exchange.outcome == Exchange::Outcome::Lost)
        ++stats_.lost;
    forgetReceived();
    pollTimer_.setInterval(0);
    emit exchangeCompleted(exchange);
}

void LoopbackCheck::pollEcho()
{
    const QString rx = readEscaped();
    const QString expected = expectedText();
    const qsizetype n = expected.size();
    if (rxBuffer_.size() >= n && QStringView(rxBuffer_).left(n) == expected) {
        emit replyShown(rx);
        rxBuffer_.clear();
        if (port_.output(PlmMod1::UnescapeCodes(sendText())) == SerialPort::Output::Refused)
            emit sendRefused(true);
        else
            emit answered(rx);
    }
}
