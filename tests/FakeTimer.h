#pragma once

#include "Timer.h"

// A timer for tests: remembers its interval and ticks only when fired.
class FakeTimer : public Timer {
    Q_OBJECT
public:
    using Timer::Timer;

    void setInterval(int milliseconds) override;
    int interval() const override { return interval_; }

    // Delivers one tick if the timer is running; returns whether it did.
    bool fire();
    // How many times setInterval was called with a non-zero value.
    int starts() const { return starts_; }

private:
    int interval_ = 0;
    int starts_ = 0;
};
