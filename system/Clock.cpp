#include "Clock.h"

Clock::~Clock() = default;
