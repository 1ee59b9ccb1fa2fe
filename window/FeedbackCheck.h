#pragma once

#include <QObject>
#include <QString>

#include <chrono>

class Clock;
class SerialPort;
class Timer;
struct Controls;
struct WindowState;

// The timed loop-back check and the echo responder: the start/stop button,
// the probe timer that sends the text at the chosen interval, and the poller
// that collects what comes back, times complete echoes and, in echo mode,
// answers each arrival of the text.
class FeedbackCheck : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kPollInterval{50};
    // Received text kept for matching, at most: send texts are shorter.
    static constexpr qsizetype kRxBufferCap = 1024 * 1024;

    FeedbackCheck(Controls &controls, WindowState &state, SerialPort &port, const Clock &clock,
                  Timer &probeTimer, Timer &pollTimer, QObject *parent = nullptr);

    // Click of Command2: start or stop the check (feedback mode), start the
    // poller (echo mode).
    void click();
    // Tick of Timer1: send a probe unless one is outstanding.
    void probe();
    // Tick of Timer2: read, collect, compare; time or answer a match.
    void poll();

    // The text that a perfect echo of the send box shows as, once escaped.
    QString expectedText() const;

signals:
    // For observers that measure the check from outside (benchmarks).
    void probeSent();
    void exchangeCompleted();

private:
    void startOrStop();
    void stopChecking();
    void pollFeedback();
    void pollEcho();
    QString readEscaped();
    void recordExchange(const QString &lastRead);
    void showStats();

    Controls &controls_;
    WindowState &state_;
    SerialPort &port_;
    const Clock &clock_;
    Timer &probeTimer_; // Timer1
    Timer &pollTimer_;  // Timer2
    bool polling_ = false;
};
