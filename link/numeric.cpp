#include "link/numeric.h"

#include <cmath>
#include <limits>

int SaturateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    const double t = std::trunc(value);
    if (t >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (t <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(t);
}

int SaturateToInt(std::int64_t value)
{
    if (value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

int SaturatingAdd(int a, int b)
{
    return SaturateToInt(static_cast<std::int64_t>(a) + static_cast<std::int64_t>(b));
}

bool IsUsableNumber(double value)
{
    return std::isfinite(value);
}

int ToControllerUnitsTrunc(double displayValue)
{
    return SaturateToInt(displayValue * 1000.0);
}

int ToControllerUnitsRound(double displayValue)
{
    // floor(x + 0.5) rounds halves toward +infinity, as qRound does, but
    // without qRound's undefined behaviour outside the int range.
    return SaturateToInt(std::floor(displayValue * 1000.0 + 0.5));
}

double ToDisplayUnits(double controllerValue)
{
    return controllerValue / 1000.0;
}
