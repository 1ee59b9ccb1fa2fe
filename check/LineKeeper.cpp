#include "LineKeeper.h"

#include "PortSession.h"
#include "Timer.h"

#include <algorithm>

LineKeeper::LineKeeper(PortSession &session, Timer &retryTimer, QObject *parent)
    : QObject(parent), session_(session), retryTimer_(retryTimer)
{
    connect(&retryTimer_, &Timer::timeout, this, [this] {
        retryTimer_.setInterval(0); // one try per wait
        tryOpen();
    });
    connect(&session_, &PortSession::lost, this, [this](int, const QString &reason) {
        if (!running_ || !up_)
            return;
        ++losses_;
        fail(reason, true);
    });
}

void LineKeeper::start(std::optional<int> number, const QString &device, const LineSettings &line)
{
    number_ = number;
    device_ = device;
    line_ = line;
    running_ = true;
    up_ = false;
    losses_ = 0;
    nextWait_ = kFirstRetry;
    tryOpen();
}

void LineKeeper::stop()
{
    running_ = false;
    up_ = false;
    retryTimer_.setInterval(0);
    session_.close();
}

void LineKeeper::tryOpen()
{
    if (!running_ || up_)
        return;
    const bool opened =
        number_ ? session_.open(*number_, line_) : session_.openDevice(device_, line_);
    // An open through a device server runs the event loop while it waits,
    // and the keeper may have been stopped meanwhile.
    if (!running_) {
        session_.close();
        return;
    }
    if (!opened) {
        fail(session_.errorString(), false);
        return;
    }
    up_ = true;
    nextWait_ = kFirstRetry;
    emit up();
}

void LineKeeper::fail(const QString &reason, bool lost)
{
    up_ = false;
    const std::chrono::milliseconds wait = nextWait_;
    nextWait_ = std::min(2 * nextWait_, kLongestRetry);
    retryTimer_.setInterval(int(wait.count()));
    emit down(reason, lost, wait);
}
