#pragma once

// Pure arithmetic of the control socket, kept apart so tests call it directly.

#include "remote/stagecontrol.h"

#include <QString>

// Default time a wait may take: the travel-time estimate plus a quarter, plus
// a fixed margin for what the estimate leaves out (the status lagging up to
// three polls behind, the controller's start, homing's settle). In ms,
// saturated; NaN or a negative estimate counts as 0.
int DefaultWaitTimeoutMs(double estimateSeconds);
constexpr double kWaitMarginSeconds = 2.0;

// An explicit timeout in seconds is accepted from here to there.
constexpr Range kTimeoutRange{0.01, 86400.0};
// Seconds to a timer interval in ms (saturated, never negative).
int SecondsToMs(double seconds);

// A finite number within [min, max]; NaN and infinities never are.
bool InRange(double value, const Range &range);
// "from -1000 to 1000", numbers as short as they go.
QString RangeText(const Range &range);

// Target of a step: the last read position (controller units) plus the step
// (display units) rounded as the step buttons round, halves upward;
// saturating.
int StepTarget(int fromPosition, double by);

// Deciding "done" from the polled status. The read-outs lag a poll behind
// (each poll draws the replies to the previous poll's queries), so the
// first poll after a command still shows the state before it.
enum class MotionProgress { Going, Done, Error };
struct MotionWatch
{
    static constexpr int kFirstFreshPoll = 2;
    // Idle polls in a row that end a move seen moving.
    static constexpr int kIdleAfterMotion = 2;
    // Idle fresh polls after which a command that never showed motion is
    // done (a move to where the stage stands, a tiny step between polls).
    static constexpr int kStartWindowPolls = 3;

    MotionProgress Feed(bool moving, bool error);

    int polls = 0;
    int idlePolls = 0;
    bool seenMoving = false;
};
