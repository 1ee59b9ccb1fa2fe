#pragma once

#include "Clock.h"

// A clock for tests: stands still until advanced.
class FakeClock : public Clock {
public:
    Duration now() const override { return now_; }
    void advance(Duration d) { now_ += d; }
    void set(Duration t) { now_ = t; }

private:
    Duration now_{std::chrono::hours(1)};
};
