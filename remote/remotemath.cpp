#include "remote/remotemath.h"

#include "link/numeric.h"

#include <cmath>

int DefaultWaitTimeoutMs(double estimateSeconds)
{
    const double travel = estimateSeconds > 0.0 ? estimateSeconds : 0.0;  // NaN too
    return SecondsToMs(travel * 1.25 + kWaitMarginSeconds);
}

int SecondsToMs(double seconds)
{
    const int ms = SaturateToInt(std::ceil(seconds * 1000.0));
    return ms < 0 ? 0 : ms;
}

bool InRange(double value, const Range &range)
{
    return IsUsableNumber(value) && value >= range.min && value <= range.max;
}

QString RangeText(const Range &range)
{
    return QString("from %1 to %2").arg(range.min, 0, 'g', 10).arg(range.max, 0, 'g', 10);
}

int StepTarget(int fromPosition, double by)
{
    return SaturatingAdd(fromPosition, ToControllerUnitsRound(by));
}

MotionProgress MotionWatch::Feed(bool moving, bool error)
{
    if (polls < kFirstFreshPoll && ++polls < kFirstFreshPoll)
        return MotionProgress::Going;  // the status from before the command
    if (error)
        return MotionProgress::Error;
    if (moving) {
        seenMoving = true;
        idlePolls = 0;
        return MotionProgress::Going;
    }
    ++idlePolls;
    if (seenMoving ? idlePolls >= kIdleAfterMotion : idlePolls >= kStartWindowPolls)
        return MotionProgress::Done;
    return MotionProgress::Going;
}
