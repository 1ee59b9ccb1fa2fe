#pragma once

#include <QString>

// Keeps other programs off a serial device while this one uses it, the way
// serial programs on Unix agree to: an exclusive flock(2) on the device,
// taken on a descriptor of its own before the port is opened (so a device
// another program holds is refused before its settings are touched) and held
// until release(). The lock lives and dies with that descriptor: the system
// drops it when the program ends, however it ends, so no lock outlives its
// holder. Windows opens a COM port for one program only, so there it holds
// nothing and never refuses.
class DeviceLock {
public:
    DeviceLock() = default;
    ~DeviceLock();
    DeviceLock(const DeviceLock &) = delete;
    DeviceLock &operator=(const DeviceLock &) = delete;

    // Takes `device` for this program. Fails, saying why, when another
    // program holds its lock or has it for itself (TIOCEXCL), or when it
    // cannot be opened at all. A lock already held is released first.
    bool take(const QString &device, QString *why);
    void release();

private:
    [[maybe_unused]] int fd_ = -1; // Unix: the descriptor the lock is held on
};
