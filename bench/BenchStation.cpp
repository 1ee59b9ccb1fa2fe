#include "BenchStation.h"

#include "MainThreadUsage.h"

#include <QApplication>

#include <cstdio>

void BenchStation::preferOffscreen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

BenchStation::BenchStation(const char *bench, FarEnd farEnd, int portNumber)
    : bench_(bench), portNumber_(portNumber)
{
    // The port number names the line before the window looks for ports.
    if (farEnd == FarEnd::Played)
        played_.emplace();
    else
        echo_.emplace(NullModemCable::Echo);
    const bool lineValid = played_ ? played_->isValid() : echo_->isValid();
    const QString device = played_ ? played_->slavePath() : echo_->endA();
    lineReady_ = folder_.isValid() && lineValid && folder_.map(portNumber_, device);
    window_ = std::make_unique<TestWindow>(TestWindow::Real);
}

BenchStation::~BenchStation()
{
    window_.reset();
}

bool BenchStation::open(bool shown)
{
    if (!lineReady_) {
        std::fprintf(stderr, "%s: no pseudo-terminal on port %d: %s\n", bench_, portNumber_,
                     qPrintable(played_ ? played_->error() : echo_->error()));
        return false;
    }
    if (shown)
        window_->form->show();
    if (!window_->open(portNumber_)) {
        std::fprintf(stderr, "%s: cannot open the port: %s\n", bench_,
                     qPrintable(window_->form->port().errorString()));
        return false;
    }
    return true;
}

bool BenchStation::measureCheck(QApplication &app, int seconds, int intervalMs, const QString &text,
                                MainThreadUsage *usage)
{
    int completed = 0;
    QObject::connect(&window_->check(), &LoopbackCheck::exchangeCompleted,
                     [&completed] { ++completed; });
    window_->check(text, intervalMs);
    *usage = MainThreadUsage::measure(app, seconds, &completed);
    if (usage->events < seconds * 1000 / intervalMs / 2) {
        std::fprintf(stderr, "%s: only %d exchanges in %d s\n", bench_, usage->events, seconds);
        return false;
    }
    return true;
}
