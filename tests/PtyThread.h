#pragma once

#include "PtyPair.h"

#include <QString>

#include <functional>
#include <thread>

// A pseudo-terminal whose master end a thread of its own serves, the way
// the far ends of the tests and benchmarks do: the thread's body waits on
// the master and on wakeFd(), which becomes readable when the object is
// stopped or goes, and returns then.
class PtyThread {
public:
    PtyThread() = default;
    ~PtyThread();
    PtyThread(const PtyThread &) = delete;
    PtyThread &operator=(const PtyThread &) = delete;

    // Starts `body` on its thread; false when the pseudo-terminal or the
    // thread could not be had.
    bool start(std::function<void()> body);
    // Wakes the body and waits for it to return. Idempotent.
    void stop();

    bool isValid() const { return pty_.isValid() && thread_.joinable(); }
    // Why the far end is not there; `what` names it ("the echo").
    QString error(const QString &what) const;
    PtyPair &pty() { return pty_; }
    const PtyPair &pty() const { return pty_; }
    int wakeFd() const { return wake_[0]; }

private:
    PtyPair pty_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};
