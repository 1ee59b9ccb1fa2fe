#pragma once

#include "PtyThread.h"

#include <QString>

#include <condition_variable>
#include <mutex>
#include <vector>

// The far end of a line that sends back every byte at once, as a loop-back
// plug would, on a pseudo-terminal whose slave device() a program (or a
// device server) opens. The thread that reads the bytes also notes when the
// first one came after arm(), so that a benchmark can tell when a probe
// reached the line without polling for it, and, once asked, when each probe
// began to arrive.
class EchoFarEnd {
public:
    EchoFarEnd();
    ~EchoFarEnd();
    EchoFarEnd(const EchoFarEnd &) = delete;
    EchoFarEnd &operator=(const EchoFarEnd &) = delete;

    bool isValid() const { return relay_.isValid(); }
    QString error() const;
    QString device() const { return relay_.pty().slavePath(); }

    // Forgets the last arrival: the next byte that comes is noted.
    void arm();
    // Waits at most `limitMs` for a byte after arm(); the moment it was
    // read, on CliProcess::monotonicNs()'s clock, or -1 when none came.
    qint64 waitFirstByte(int limitMs);

    // From now on notes the moment each probe begins to arrive: the first
    // byte read after at least `quietMs` without any.
    void recordArrivals(int quietMs);
    // The moments noted so far, in order, on CliProcess::monotonicNs()'s
    // clock.
    std::vector<qint64> arrivals() const;

private:
    void relay();

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    bool armed_ = false;
    qint64 arrivalNs_ = -1;
    qint64 quietNs_ = -1; // below 0: arrivals are not noted
    qint64 lastReadNs_ = -1;
    std::vector<qint64> arrivals_;
    PtyThread relay_; // last: gone first, before what it uses
};
