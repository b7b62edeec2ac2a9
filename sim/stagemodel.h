#pragma once

// The virtual stage controller's behaviour, free of any transport and of the
// wall clock: bytes go in through Feed, replies come out of Feed and
// TakeDue, and time only passes when Advance is called. That keeps motion
// timing and fault injection exactly reproducible in tests; StageSimulator_c
// puts the model on a real port and a real clock.
//
// Units follow the line protocol: positions in thousandths of the display
// unit (um or mrad), speeds in thousandths per s, accelerations per s^2,
// firmware version in hundredths.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QRandomGenerator>
#include <QVector>

#include <functional>

// Faults to inject. Times are on the model's clock (ms since power-up);
// -1 means never, 0 in a count means off.
struct StageFaults
{
    qint64 errorAtMs = -1;          // status bit 1 comes on and stays
    qint64 hardwareErrorAtMs = -1;  // status bit 3 comes on and stays; the motor stops
    int dropEvery = 0;              // every Nth reply line is lost
    double dropProbability = 0.0;   // each reply line is lost with this probability
    quint32 seed = 1;               // for dropProbability and garbage bytes
    int splitBytes = 0;             // replies leave in pieces of this many bytes
    int splitGapMs = 10;            // time between two pieces
    bool crlf = false;              // CR LF line ends instead of LF
    int okEvery = 0;                // an "ok" line after every Nth received line
    int commentEvery = 0;           // a "#" line before every Nth reply
    int garbageEvery = 0;           // a line of random bytes before every Nth reply
    int latencyMs = 0;              // delay from a query to its reply
    qint64 hangUpAtMs = -1;         // the line goes dead for good
};

struct StageConfig
{
    int type = 0;                 // 0 linear, 1 rotation, 2 lifting
    qint64 serialNumber = 1234;
    qint64 firmware = 123;        // hundredths: 1.23
    qint64 position = 0;
    qint64 refPos = 0;
    int status = 4;               // power-up bits 1 to 3; bit 0 follows the motion
    qint64 speed = 2000;
    qint64 accel = 20000;
    qint64 decel = 20000;
    qint64 holdTorque = 30;
    // Travel of linear and lifting stages; rotation stages turn without limit.
    qint64 minPos = -1000000;
    qint64 maxPos = 1000000;
    int homeSettleMs = 300;       // homing dwells at 0 this long before it reports homed
    StageFaults faults;
};

class StageModel_c
{
public:
    explicit StageModel_c(const StageConfig &config = StageConfig());

    // Takes bytes as they arrive (any split, CR ignored) and carries out every
    // complete line. Returns whatever output is due now.
    QByteArray Feed(const QByteArray &received);
    // Moves the clock forward; motion, homing, timed faults and delayed
    // replies advance with it.
    void Advance(qint64 ms);
    // Output whose time has come (delayed or split replies).
    QByteArray TakeDue();
    bool HasPendingOutput() const { return !outbox.isEmpty(); }
    // When the model next has something to do without being asked (a motion
    // or homing dwell ends, a timed fault, output falls due), in ms on its
    // clock; -1 when nothing is ahead. Queries need no such moment: they
    // read the stage at the time they arrive.
    qint64 NextWakeMs() const;

    // Called with each complete received line before it takes effect.
    void SetLineHook(std::function<void(const QByteArray &line)> hook)
    {
        lineHook = std::move(hook);
    }

    qint64 Now() const { return now; }
    int Status() const;
    bool IsMoving() const { return mode != Mode::Idle; }
    bool IsHomed() const { return homed; }
    bool IsHungUp() const { return hungUp; }
    double ExactPosition() const { return StateAt(now).first; }
    double Velocity() const { return StateAt(now).second; }
    // The number a query for key would carry; 0 for an unknown key.
    qint64 Value(const QByteArray &key) const;
    const StageConfig &Config() const { return config; }

    // The line goes dead now (a pulled cable).
    void HangUp();

    static const QList<QByteArray> &Keys();

    // One stretch of constant acceleration of a motion plan.
    struct Phase
    {
        double seconds;
        double accel;  // signed, units per s^2
    };

private:
    enum class Mode { Idle, Move, Run, Stop, HomeMove, HomeSettle };

    void HandleLine(const QByteArray &line, QByteArray &out);
    void HandleQuery(const QByteArray &key, QByteArray &out);
    void HandleCommand(const QByteArray &verb, double arg);
    void HandleSet(const QByteArray &key, double value);
    void AppendReply(const QByteArray &line, QByteArray &out);
    void Schedule(const QByteArray &bytes);

    bool MotionAllowed();
    bool InTravel(qint64 target) const;
    void StartMove(double target, Mode newMode);
    void StartRun(int direction);
    void StartStop();
    void Replan();
    void BeginPlan();
    void EndPlan();
    void FinishPlan();
    void Halt();
    qint64 NextEventMs() const;
    void RunEventsAt(qint64 t);

    // Position and velocity at time t on the current plan.
    QPair<double, double> StateAt(qint64 t) const;

    StageConfig config;
    qint64 now = 0;

    // Motion: the plan starts at planStartMs from planPos/planVel and runs
    // through phases; a run ends in an endless cruise.
    Mode mode = Mode::Idle;
    qint64 planStartMs = 0;
    double planPos = 0.0;
    double planVel = 0.0;
    QVector<Phase> phases;
    qint64 planEndMs = -1;   // -1: endless
    double target = 0.0;
    int runDirection = 0;
    qint64 settleEndMs = -1;

    qint64 refPos = 0;
    qint64 speed = 0;
    qint64 accel = 0;
    qint64 decel = 0;
    qint64 holdTorque = 0;
    bool homed = false;
    bool errorLatched = false;  // a refused command; cleared by the next accepted one
    bool forcedError = false;
    bool hardwareError = false;
    bool hungUp = false;

    QByteArray inBuffer;
    bool discarding = false;
    std::function<void(const QByteArray &)> lineHook;
    qint64 linesSeen = 0;
    qint64 repliesMade = 0;
    QRandomGenerator rng;
    QList<QPair<qint64, QByteArray>> outbox;  // (due time, bytes), in due order
    qint64 lastDueMs = 0;
};
