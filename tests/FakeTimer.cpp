#include "FakeTimer.h"

void FakeTimer::setInterval(int milliseconds)
{
    interval_ = milliseconds > 0 ? milliseconds : 0;
    if (interval_ > 0)
        ++starts_;
}

bool FakeTimer::fire()
{
    if (interval_ == 0)
        return false;
    emit timeout();
    return true;
}
