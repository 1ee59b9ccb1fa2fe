#include "Timer.h"

Timer::~Timer() = default;
