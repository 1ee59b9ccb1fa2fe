#pragma once

#include "NullModemCable.h"
#include "PortFolder.h"
#include "PtyPair.h"
#include "TestWindow.h"

#include <memory>
#include <optional>

class QApplication;
struct MainThreadUsage;

// One station of a benchmark: the window as the program runs it, its port
// number naming a fresh pseudo-terminal whose far end the benchmark plays
// (FarEnd::Played, on far()) or which echoes every byte (FarEnd::Echo). What
// goes wrong is said on standard error after the benchmark's name.
class BenchStation {
public:
    enum class FarEnd { Played, Echo };

    // Before the application object: the offscreen platform unless another
    // is asked for.
    static void preferOffscreen();

    BenchStation(const char *bench, FarEnd farEnd, int portNumber = 1);
    BenchStation(const BenchStation &) = delete;
    BenchStation &operator=(const BenchStation &) = delete;
    // The window, and with it the port, goes before the line.
    ~BenchStation();

    // Opens the port, the window shown first if `shown`; false when the line
    // or the port cannot be had. The window's settings may be changed before.
    bool open(bool shown);
    // Probes `text` every `intervalMs` and measures the main thread for
    // `seconds`, counting the exchanges; false when fewer than half the
    // probes the span had room for completed (the check stalled).
    bool measureCheck(QApplication &app, int seconds, int intervalMs, const QString &text,
                      MainThreadUsage *usage);

    TestWindow &window() { return *window_; }
    Form1 &form() { return *window_->form; }
    // The far end of a played line.
    PtyPair &far() { return *played_; }

private:
    const char *bench_;
    const int portNumber_;
    PortFolder folder_;
    std::optional<PtyPair> played_;
    std::optional<NullModemCable> echo_;
    bool lineReady_ = false; // the port number names the line
    std::unique_ptr<TestWindow> window_;
};
