#pragma once

class QApplication;

// The main thread's CPU time over wall time while the event loop runs: what
// a station costs when it only waits for its timers and its port.
struct MainThreadUsage {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    int events = 0; // how far the given counter went during the span
    double percent() const { return cpuSeconds / wallSeconds * 100.0; }

    // Runs the event loop for `seconds` after `settleMs` (start-up work of
    // a station is not its idle cost), then measures over that span.
    static MainThreadUsage measure(QApplication &app, int seconds, const int *counter = nullptr,
                                   int settleMs = 1000);
    // CLOCK_THREAD_CPUTIME_ID or CLOCK_MONOTONIC, in seconds.
    static double threadCpuSeconds();
    static double wallClockSeconds();
};
