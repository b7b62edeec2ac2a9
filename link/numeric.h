#pragma once

// Conversions between the doubles that arrive from the serial line, from the
// operator's fields and from settings files, and the 32-bit integers the
// widgets and the controller use. Every conversion saturates and maps NaN to 0,
// because any of those sources can carry 1e300 or "nan".

#include <cstdint>

// Truncates toward zero; NaN gives 0, values beyond the int range give
// INT_MIN or INT_MAX.
int SaturateToInt(double value);

// Saturating int addition (done in 64 bits, then clamped).
int SaturatingAdd(int a, int b);
int SaturateToInt(std::int64_t value);

// A number that converted from text but that the rest of the system cannot
// use: NaN, an infinity, or beyond the double range.
bool IsUsableNumber(double value);

// Display unit (mm or rad) to controller units (thousandths), truncating
// toward zero: 1.005 gives 1004, because 1.005 * 1000 is 1004.9999...
int ToControllerUnitsTrunc(double displayValue);

// Display unit to controller units, rounding halves upward like qRound
// (2.5 gives 3, -2.5 gives -2), saturating.
int ToControllerUnitsRound(double displayValue);

// Controller units (thousandths) to the display unit.
double ToDisplayUnits(double controllerValue);
