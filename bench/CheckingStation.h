#pragma once

#include "NullModemCable.h"
#include "PortFolder.h"
#include "TestWindow.h"

#include <memory>

class QApplication;
struct MainThreadUsage;

// A checking station for the benchmarks that measure one: the window on the
// real platform, its port 1 one end of a virtual cable whose far end echoes
// every byte. What goes wrong is said on standard error after the
// benchmark's name.
class CheckingStation {
public:
    explicit CheckingStation(const char *bench);

    // Opens the port, the window shown first if `shown`; false when it
    // cannot.
    bool open(bool shown);
    // Probes `text` every `intervalMs` and measures the main thread for
    // `seconds`, counting the exchanges; false when fewer than half the
    // probes the span had room for completed (the check stalled).
    bool measure(QApplication &app, int seconds, int intervalMs, const QString &text,
                 MainThreadUsage *usage);

    Form1 &form() { return *window_->form; }

private:
    const char *bench_;
    PortFolder folder_;
    NullModemCable echo_{NullModemCable::Echo};
    std::unique_ptr<TestWindow> window_;
};
