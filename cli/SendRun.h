#pragma once

#include "CliRun.h"

#include <chrono>
#include <cstdio>

struct CliOptions;
class PortSession;

// `commcheck-cli send`: the text on an open port, and the wait until it has
// all left, for as long as the line needs for it at its speed. The wait
// blocks the event loop, so start() does all of it; a request to stop ends
// the program at once instead (StopSignals::Mode::AtOnce).
class SendRun : public CliRun {
    Q_OBJECT
public:
    SendRun(const CliOptions &options, PortSession &session, std::FILE *out, std::FILE *err,
            QObject *parent = nullptr);

    void start() override;
    // Nothing is left to stop once start() returns: the text has gone, or
    // has been given its time.
    void stop(const QString &) override {}

private:
    void onPortLost() override;
    void printEnd() override;
    int exitCode() const override;

    bool taken_ = false; // the port took the text
    qint64 size_ = 0;    // its bytes
    qint64 unsent_ = 0;  // of them, what had not left by the limit
    std::chrono::milliseconds limit_{0};
};
