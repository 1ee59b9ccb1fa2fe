#pragma once

#include "Exchange.h"
#include "ExpectedText.h"
#include "Statistics.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class Clock;
class SerialPort;
class Timer;

// The timed loop-back check and the echo responder, without a window. A
// checking station (Mode::Feedback) sends the text at the probe interval,
// collects what comes back and times each complete echo; an answering
// station (Mode::Echo) sends the text back on each arrival of it. The probe
// timer and the poller are given; their ticks drive probe() and poll().
//
// The text is taken from its source afresh at every send, in the escaped
// form typed by the user ("ABC[13]"); see setTextSource(). A probe is matched
// only with what arrived after it: whatever waits unread when a probe goes
// out is dropped, and a whole text among it (the last probe's reply come
// after it was given up, or a reply sent twice) is reported as late.
class LoopbackCheck : public QObject {
    Q_OBJECT
public:
    enum class Mode { Idle, Feedback, Echo };

    static constexpr std::chrono::milliseconds kPollInterval{50};
    // Received text kept for matching, at most, or the expected text and
    // one character more where that is longer: enough to tell every outcome.
    static constexpr qsizetype kRxBufferCap = 1024 * 1024;

    LoopbackCheck(SerialPort &port, const Clock &clock, Timer &probeTimer, Timer &pollTimer,
                  QObject *parent = nullptr);

    // Where the text comes from (the window's send box); or a fixed text.
    // What the source gives is read afresh at every send; the text an echo
    // is compared with is kept until textChanged() says the source changed.
    void setTextSource(std::function<QString()> source);
    void setText(const QString &escaped);
    void textChanged();
    // Probes go out only while enabled (the window's check box).
    void setProbesEnabled(bool enabled);
    // A probe not answered this long after it went out is given up, counted
    // as lost, and the next probe goes out at its time; should its reply
    // still come before then, it is reported late. None: wait forever.
    void setReplyTimeout(std::optional<std::chrono::milliseconds> timeout);
    std::optional<std::chrono::milliseconds> replyTimeout() const { return replyTimeout_; }
    // Time a reply when its last byte arrives instead of at the poll that
    // finds it. The exchange still completes at the next poll (the window's
    // figures change at the poll), unless it completes on arrival too.
    void setPrecise(bool precise);
    void setCompletesOnArrival(bool completes);

    // Sends the text once and starts a new run: statistics reset, anything
    // received or awaited forgotten, checking station.
    void sendOnce();
    // The same new run without sending anything first.
    void beginRun();
    // Reads everything received and shows it (replyShown); answering station.
    void receiveOnce();
    // The port was opened: idle, nothing received or awaited.
    void portOpened();
    // The start / stop button: a checking station starts probing every
    // `interval` ms (none or negative: nothing happens) or stops; an
    // answering station starts answering.
    void startStop(std::optional<qint32> interval);

    // Tick of the probe timer: send a probe unless one is outstanding. What
    // waits unread is dropped first.
    void probe();
    // Tick of the poller: read, collect, compare; time or answer a match.
    void poll();

    Mode mode() const { return mode_; }
    bool running() const { return running_; }
    bool waiting() const { return waiting_; }
    const Statistics &statistics() const { return stats_; }
    const QString &received() const { return rxBuffer_; }
    // The text a perfect echo shows as: the text unescaped, as the line
    // carries it in code page 932 (a character the code page lacks goes as
    // '?'), and escaped again.
    QString expectedText() const;
    // The probe still awaited, as an exchange that ends now unanswered; none
    // when no probe is awaited.
    std::optional<Exchange> awaitedProbe() const;

signals:
    void runningChanged(bool running);
    // Sent once: a new run begins (statistics reset, not yet shown).
    void runStarted();
    void probeSent();
    // After every completed exchange.
    void statisticsChanged(const Statistics &statistics);
    // A poll found text that can no longer match; the error count rose.
    void errorCounted(const Statistics &statistics);
    // The same poll as an exchange, so that a record of the run holds every
    // error counted: Error, the time since the probe was sent, what had come
    // back. The probe is still awaited.
    void errorPolled(const Exchange &exchange);
    // What the last read brought, to be shown in place of the last one.
    void replyShown(const QString &escaped);
    // Every probe's end: matched, or given up after the timeout.
    void exchangeCompleted(const Exchange &exchange);
    // A whole text arrived for a probe that had already ended: its reply
    // after it was given up (at the poll or arrival that completed it), or
    // a second reply (found when the next probe goes out). Late, with the
    // ended probe's number and the time since it was sent.
    void lateReply(const Exchange &exchange);
    // The answering station sent its text back on this arrival.
    void answered(const QString &escaped);
    // The port refused a text: too much waits unsent (the line is held).
    // Nothing of it went out. `byTimer`: a probe or an answer, tried again
    // at the next tick; else the send click's.
    void sendRefused(bool byTimer);

private:
    // A probe that went out: its number in the run and when it was sent.
    struct Probe {
        std::uint64_t sequence = 0;
        std::chrono::nanoseconds sentAt{};
    };

    QString sendText() const;
    const ExpectedText &expected() const;
    void stopChecking();
    void dropUnread();
    void pollFeedback();
    void judgeFeedback();
    void watchLate();
    void pollEcho();
    void collect();
    void recordExchange(std::chrono::nanoseconds elapsed, const QString &shown);
    // `probe` as an exchange that ended `elapsed` after it was sent.
    static Exchange exchangeOf(const Probe &probe, std::chrono::nanoseconds elapsed,
                               Exchange::Outcome outcome, const QString &received);
    void reportLate(const Probe &probe);
    void giveUpIfLate();
    void forgetReceived();
    void onBytesArrived();

    SerialPort &port_;
    const Clock &clock_;
    Timer &probeTimer_;
    Timer &pollTimer_;
    std::function<QString()> textSource_;
    mutable std::optional<ExpectedText> expected_; // until the text changes

    Mode mode_ = Mode::Idle;
    bool running_ = false;
    bool waiting_ = false; // a probe is out and its echo not yet matched
    bool probesEnabled_ = false;
    bool precise_ = false;
    bool completesOnArrival_ = false;
    bool polling_ = false;
    std::optional<std::chrono::milliseconds> replyTimeout_;
    Probe awaited_;                                     // the probe out, while waiting_
    std::optional<Probe> lastEnded_;                    // whose replies are late from now on
    std::optional<Probe> watchedLate_;                  // given up, its reply still looked for
    std::optional<std::chrono::nanoseconds> matchedAt_; // the awaited reply came whole
    std::uint64_t sequence_ = 0;                        // probes sent in this run
    QString rxBuffer_; // escaped text received since the last match
    QString unshown_;  // read since the last poll, shown at a match
    Statistics stats_;
};
