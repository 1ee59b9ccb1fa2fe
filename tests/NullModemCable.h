#pragma once

#include "PtyPair.h"

#include <QString>

#include <atomic>
#include <thread>

// A virtual null-modem cable: two pseudo-terminals whose far sides a relay
// thread joins, so that what one program writes to end A arrives at end B
// and back. Or, with Echo, one pseudo-terminal whose far side sends back
// every byte at once, as a loop-back plug would.
class NullModemCable {
public:
    enum Kind { TwoEnds, Echo };

    explicit NullModemCable(Kind kind = TwoEnds);
    ~NullModemCable();
    NullModemCable(const NullModemCable &) = delete;
    NullModemCable &operator=(const NullModemCable &) = delete;

    bool isValid() const;
    QString error() const;
    QString endA() const { return a_.slavePath(); }
    QString endB() const { return b_.slavePath(); }

    // Bytes carried so far, both directions together.
    qint64 bytesCarried() const { return carried_.load(); }

    // Pulls the cable: the relay stops and the far sides are closed, so both
    // ends see their device hang up.
    void cut();

private:
    void relay();
    void stop();

    Kind kind_;
    PtyPair a_;
    PtyPair b_;
    int wake_[2] = {-1, -1}; // a pipe that tells the relay to stop
    std::atomic<qint64> carried_{0};
    std::thread thread_;
};
