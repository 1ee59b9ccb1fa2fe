#pragma once

#include "Clock.h"

// The real clock: std::chrono::steady_clock (monotonic, high resolution).
class SteadyClock : public Clock {
public:
    Duration now() const override;
};
