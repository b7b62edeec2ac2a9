#include "app/stagemath.h"

#include "link/numeric.h"

#include <cmath>
#include <cstdlib>

int OffsetPosition(int pos, double posOffset)
{
    return SaturatingAdd(pos, ToControllerUnitsTrunc(posOffset));
}

long long TargetDistance(int target, int previous)
{
    return std::llabs(static_cast<long long>(target) - static_cast<long long>(previous));
}

double TravelTimeSeconds(int a, int b, long long d, double v)
{
    const double dd = static_cast<double>(d);
    const long long sumAB = static_cast<long long>(a) + b;
    double vp = 0.1;
    if (sumAB > 0) {
        const double peakSq = static_cast<double>(a) * (2.0 * dd) * b / static_cast<double>(sumAB);
        if (peakSq > 0.0)
            vp = std::sqrt(peakSq);
    }
    if (!(vp >= 0.1))
        vp = 0.1;
    if (v > vp)
        return 2.0 * dd / vp;  // the station speed is never reached
    const double twoA = static_cast<double>(2LL * a);
    const double twoB = static_cast<double>(2LL * b);
    if (!(v > 0.0) || twoA <= 0.0 || twoB <= 0.0)
        return 0.0;  // no usable profile; callers never pass these
    return (dd - v * v / twoA - v * v / twoB) / v + (v / b + v / a);
}

int LoopIntervalMs(double travelSeconds, int waitMs)
{
    // A negative wait (a loaded settings value) must not give a negative
    // interval: QTimer refuses those and the run would stall.
    const int ms = SaturateToInt(travelSeconds * 1000.0 + waitMs + 100.0);
    return ms < 0 ? 0 : ms;
}

StageStatus DecodeStatus(int status)
{
    // Read as a bit pattern: a saturated -1e300 arrives as INT_MIN, which has
    // none of the low bits set.
    const unsigned bits = static_cast<unsigned>(status);
    StageStatus s;
    s.moving = bits & 1u;
    s.error = bits & 2u;
    s.notHomed = bits & 4u;
    s.hardwareError = bits & 8u;
    return s;
}

bool IsKnownStageType(int type)
{
    return type >= 0 && type < kStageTypeCount;
}
