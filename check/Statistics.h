#pragma once

#include <QMetaType>

#include <array>
#include <cstdint>

// The figures of a loop-back run as the window shows them: times in seconds,
// counts as plain numbers, every value kept in single precision.
struct Statistics {
    enum Slot { LastTime = 0, TotalTime = 1, MaxTime = 2, MinTime = 3, Count = 4, Errors = 5 };
    static constexpr float kMinTimeAtReset = 99999.0f; // seconds; any real time is below it

    std::array<float, 6> values{};
    // Probes given up on after the reply timeout (only where one is set).
    std::uint64_t lost = 0;

    float operator[](Slot slot) const { return values[slot]; }
    // 0, 0, 0, 99999, 0, 0: the minimum starts high so the first time replaces it.
    void reset();
    // One completed exchange of `seconds`.
    void addExchange(double seconds);
    // One poll whose received text can no longer match.
    void addError();
};

Q_DECLARE_METATYPE(Statistics)
