#pragma once

#include "Clock.h"

#include <QString>
#include <QtGlobal>

#include <array>

// Everything the window's handlers share between events.
struct WindowState {
    // Slots of Stats.
    enum StatSlot { LastTime = 0, TotalTime = 1, MaxTime = 2, MinTime = 3, Count = 4, Errors = 5 };
    static constexpr float kMinTimeAtReset = 99999.0f; // seconds; any real time is below it

    qint16 Mode = 0;              // 0 opened or idle, 1 feedback check, 2 echo
    quint8 Running = 0;           // the feedback check has been started
    quint8 Waiting = 0;           // a probe is out and its echo not yet matched
    Clock::Duration SendTime{};   // when the last probe was handed to the port
    QString RxBuffer;             // escaped text received since the last match
    std::array<float, 6> Stats{}; // seconds for the times, plain counts otherwise

    // 0, 0, 0, 99999, 0, 0: the minimum starts high so the first time replaces it.
    void resetStats();
    // Forgets what was received and any probe still awaited: the user's own
    // fresh start (open, send, receive) is not held up by an earlier run.
    void forgetReceived();
};
