#include "CheckingStation.h"

#include "MainThreadUsage.h"

#include <QApplication>

#include <cstdio>

CheckingStation::CheckingStation(const char *bench) : bench_(bench) {}

bool CheckingStation::open(bool shown)
{
    if (!folder_.isValid() || !echo_.isValid() || !folder_.map(1, echo_.endA())) {
        std::fprintf(stderr, "%s: no virtual cable: %s\n", bench_, qPrintable(echo_.error()));
        return false;
    }
    window_ = std::make_unique<TestWindow>(TestWindow::Real);
    if (shown)
        window_->form->show();
    if (!window_->open(1)) {
        std::fprintf(stderr, "%s: cannot open the port: %s\n", bench_,
                     qPrintable(window_->form->port().errorString()));
        return false;
    }
    return true;
}

bool CheckingStation::measure(QApplication &app, int seconds, int intervalMs, const QString &text,
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
