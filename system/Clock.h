#pragma once

#include <chrono>

// A monotonic clock for measuring response times.
class Clock {
public:
    using Duration = std::chrono::nanoseconds;

    virtual ~Clock();
    // Time since an arbitrary fixed origin; never goes backwards.
    virtual Duration now() const = 0;
};
