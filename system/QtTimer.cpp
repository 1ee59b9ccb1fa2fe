#include "QtTimer.h"

QtTimer::QtTimer(QObject *parent) : Timer(parent)
{
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Timer::timeout);
}

void QtTimer::setInterval(int milliseconds)
{
    if (milliseconds <= 0) {
        timer_.stop();
        return;
    }
    timer_.start(milliseconds);
}

int QtTimer::interval() const
{
    return timer_.isActive() ? timer_.interval() : 0;
}
