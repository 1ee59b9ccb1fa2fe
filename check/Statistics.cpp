#include "Statistics.h"

namespace {

// Values are computed in double and stored in single precision.
float single(double value)
{
    return static_cast<float>(value);
}

} // namespace

void Statistics::reset()
{
    values = {0.0f, 0.0f, 0.0f, kMinTimeAtReset, 0.0f, 0.0f};
    lost = 0;
}

void Statistics::addExchange(double seconds)
{
    values[LastTime] = single(seconds);
    values[TotalTime] = single(double(values[TotalTime]) + double(values[LastTime]));
    if (values[LastTime] > values[MaxTime])
        values[MaxTime] = values[LastTime];
    if (values[LastTime] < values[MinTime])
        values[MinTime] = values[LastTime];
    values[Count] = single(double(values[Count]) + 1);
}

void Statistics::addError()
{
    values[Errors] = single(double(values[Errors]) + 1);
}
