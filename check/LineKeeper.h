#pragma once

#include "LineSettings.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

class PortSession;
class Timer;

// Keeps one line's port open for as long as it is watched: opens it, and
// when the open fails or the open port is lost, tries again after a while,
// 1 s after the first failure, twice as long after each further one, at most
// 60 s; a successful open starts the count again from 1 s. A device pulled
// out and put back, a device server restarted, is checked again without
// anyone's help, and a device gone for good costs one open a minute.
//
// The waits are ticks of the given timer, so that they can be stepped
// through without waiting.
class LineKeeper : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kFirstRetry{1000};
    static constexpr std::chrono::milliseconds kLongestRetry{60000};

    LineKeeper(PortSession &session, Timer &retryTimer, QObject *parent = nullptr);

    // Opens the port now, by `number` when there is one, else by `device`
    // (a device path, COMn, or a device server's address); up() or down()
    // tells how it went, before this returns.
    void start(std::optional<int> number, const QString &device, const LineSettings &line);
    // No more tries; the port is closed. Nothing is emitted.
    void stop();

    bool isUp() const { return up_; }
    // Times the open port was lost since start().
    int losses() const { return losses_; }
    // How long the keeper waits after the next failure.
    std::chrono::milliseconds nextWait() const { return nextWait_; }

signals:
    // The port is open (at start(), or again after a failure).
    void up();
    // The port could not be opened, or was lost (`lost`), for `reason`; the
    // next try is `retryIn` from now.
    void down(const QString &reason, bool lost, std::chrono::milliseconds retryIn);

private:
    void tryOpen();
    void fail(const QString &reason, bool lost);

    PortSession &session_;
    Timer &retryTimer_;
    std::optional<int> number_;
    QString device_;
    LineSettings line_;
    bool running_ = false;
    bool up_ = false;
    int losses_ = 0;
    std::chrono::milliseconds nextWait_ = kFirstRetry;
};
