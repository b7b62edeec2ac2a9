#pragma once

// What the control socket knows of the panel: a few operations, a snapshot of
// the state the window shows, and signals. The window implements it; nothing
// here knows about widgets.

#include <QObject>
#include <QString>

// Positions in display units (mm or rad), absolute: the operator's offset is
// reported, never applied. Speeds and accelerations in display units per
// second (per second squared), as the slider labels show them.
struct StageSnapshot
{
    bool connected = false;
    // The controller's identity (type, serial number, firmware) has been read since the
    // connection came up; until then the window still shows the previous stage's.
    bool identified = false;
    int stageType = -1;  // 0 linear, 1 rotation, 2 lifting; -1 unknown
    QString unit;
    qint64 serialNumber = 0;
    double firmware = 0.0;
    double position = 0.0;
    double reference = 0.0;
    double offset = 0.0;
    bool moving = false;
    bool error = false;
    bool hardwareError = false;
    bool homed = false;
    double speed = 0.0;
    double accel = 0.0;
    double decel = 0.0;
    int torque = 0;
    bool loopRunning = false;
};

struct Range
{
    double min = 0.0;
    double max = 0.0;
};

// The form's limits in the same units.
struct StageLimits
{
    Range position;
    Range speed;
    Range accel;
    Range decel;
    Range torque;
};

class StageControl_c : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual StageSnapshot Snapshot() const = 0;
    virtual StageLimits Limits() const = 0;
    // Travel time in seconds from one absolute position to another at the
    // speed, acceleration and deceleration now set.
    virtual double TravelEstimateSeconds(double from, double to) const = 0;

    // Motion, through the same paths as the window's controls. Positions in
    // controller units (thousandths), absolute.
    virtual void MoveTo(int position) = 0;
    virtual void Run(bool backwards) = 0;
    virtual void Home() = 0;
    virtual void GoToReference() = 0;
    // "!run_0" and the end of a station loop, as the Loop button ends one.
    virtual void Stop() = 0;
    virtual void SetReference(int position) = 0;
    // Slider values (thousandths, torque as is); negative: leave the slider.
    virtual void SetSliders(int speed, int accel, int decel, int torque) = 0;

    // What the window shows of the scripts; empty hides it.
    virtual void ShowRemoteActivity(const QString &text) = 0;

signals:
    // After each poll has redrawn the read-outs.
    void Polled();
    void ConnectionChanged(bool connected);
    // The operator used a motion control of the window.
    void OperatorMotion();
    void LoopStateChanged(bool running);
};
