#pragma once

// Pure arithmetic of the panel, kept free of widgets so tests call it directly.

// Position sent for pos (controller units, relative to the operator's zero):
// pos + trunc(1000 * posOffset), saturating.
int OffsetPosition(int pos, double posOffset);

// Travel time in seconds of a move over distance d (controller units) with
// station speed v, acceleration a and deceleration b, on a trapezoidal
// profile. a + b, 2a and 2b are formed as integers; the peak speed is raised
// to 0.1; v > vp (strictly) means the station speed is never reached.
// v must be positive; callers substitute the speed the controller gets.
double TravelTimeSeconds(int a, int b, long long d, double v);

// Distance between two 32-bit targets, computed without overflow.
long long TargetDistance(int target, int previous);

// Timer interval in ms: t * 1000 + wait + 100, truncated, saturated and never
// negative.
int LoopIntervalMs(double travelSeconds, int waitMs);

// The controller's status word: bit 0 moving, bit 1 error, bit 2 not homed,
// bit 3 hardware error; higher bits carry nothing.
struct StageStatus
{
    bool moving = false;
    bool error = false;
    bool notHomed = false;
    bool hardwareError = false;
};
StageStatus DecodeStatus(int status);

// Stage types the per-type slider tables have entries for (0 linear,
// 1 rotation, 2 lifting); anything else must not index them.
constexpr int kStageTypeCount = 3;
bool IsKnownStageType(int type);
