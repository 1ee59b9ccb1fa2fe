#include "MainThreadUsage.h"

#include <QApplication>
#include <QTimer>

#include <ctime>

namespace {

double clockSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

double MainThreadUsage::threadCpuSeconds()
{
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID);
}

double MainThreadUsage::wallClockSeconds()
{
    return clockSeconds(CLOCK_MONOTONIC);
}

MainThreadUsage MainThreadUsage::measure(QApplication &app, int seconds, const int *counter,
                                         int settleMs)
{
    MainThreadUsage usage;
    double cpuStart = 0;
    double wallStart = 0;
    int countStart = 0;
    QTimer::singleShot(settleMs, &app, [&] {
        cpuStart = threadCpuSeconds();
        wallStart = wallClockSeconds();
        countStart = counter ? *counter : 0;
        QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, [&] {
            usage.cpuSeconds = threadCpuSeconds() - cpuStart;
            usage.wallSeconds = wallClockSeconds() - wallStart;
            usage.events = counter ? *counter - countStart : 0;
            app.quit();
        });
    });
    app.exec();
    return usage;
}
