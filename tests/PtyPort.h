#pragma once

#include "PortFolder.h"
#include "PtyPair.h"

#include <QString>

// A pseudo-terminal behind a port number: a fresh port folder maps `number`
// to the pty's slave for the object's lifetime, and the test plays the far
// end of the line on `pty`.
struct PtyPort {
    explicit PtyPort(int number = 1);

    // Why the port number does not name the pty; empty when it does.
    QString problem() const { return problem_; }

    // Puts `device` behind the port number instead, as when an adapter that
    // was pulled out comes back as a new device.
    bool plugIn(const PtyPair &device);

    const int number;
    PortFolder folder;
    PtyPair pty;

private:
    QString problem_;
};
