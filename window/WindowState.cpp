#include "WindowState.h"

void WindowState::resetStats()
{
    Stats = {0.0f, 0.0f, 0.0f, kMinTimeAtReset, 0.0f, 0.0f};
}

void WindowState::forgetReceived()
{
    RxBuffer.clear();
    Waiting = 0;
}
