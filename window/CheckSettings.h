#pragma once

#include <chrono>
#include <optional>

// The check's settings the window remembers from one run of the program to
// the next, in the program's settings file (QSettings under the
// application's names: ~/.config/commcheck/commcheck.conf on Linux).
struct CheckSettings {
    // A reply is timed when its last byte arrives, not at the poll.
    bool precise = false;
    // A probe not answered this long after it went out is given up; none:
    // its reply is awaited for ever.
    std::optional<std::chrono::milliseconds> replyTimeout;

    // As last written; each value missing or unreadable is its default.
    static CheckSettings read();
    void write() const;
};
