#include "sim/stagemodel.h"

#include <algorithm>
#include <cmath>

namespace {

using Phase = StageModel_c::Phase;

// Longest line the controller buffers; anything longer is noise and is
// dropped up to its line feed.
constexpr int kMaxLine = 256;
// No plan is allowed to run longer than this, so end times fit in qint64 ms.
constexpr double kMaxPlanSeconds = 1e12;

qint64 ClampRound(double v, qint64 lo, qint64 hi)
{
    if (!(v == v))
        return 0;
    if (v <= static_cast<double>(lo))
        return lo;
    if (v >= static_cast<double>(hi))
        return hi;
    return std::llround(v);
}

void Step(double &p, double &v, double a, double dt)
{
    p += v * dt + 0.5 * a * dt * dt;
    v += a * dt;
}

void Add(QVector<Phase> &out, double &p, double &v, double seconds, double accel)
{
    if (!(seconds > 0.0))
        return;
    out.append({seconds, accel});
    Step(p, v, accel, seconds);
}

// Phases that bring a stage at p moving with v to rest at x, on a trapezoidal
// profile: speed up with a to at most vmax, cruise, slow down with b. A stage
// that is heading away, or too fast to stop in time, stops first and comes
// back.
void PlanMove(double p, double v, double x, double vmax, double a, double b, QVector<Phase> &out)
{
    for (int guard = 0; guard < 4; ++guard) {
        const double d = x - p;
        if (std::abs(d) < 1e-9 && std::abs(v) < 1e-9)
            return;
        const double dir = d > 0.0 ? 1.0 : d < 0.0 ? -1.0 : (v > 0.0 ? -1.0 : 1.0);
        const double dist = std::abs(d);
        const double u = v * dir;  // speed toward the target
        if (u < 0.0) {
            Add(out, p, v, -u / b, dir * b);
            v = 0.0;
            continue;
        }
        if (u * u / (2.0 * b) > dist + 1e-6) {
            Add(out, p, v, u / b, -dir * b);
            v = 0.0;
            continue;
        }
        if (u <= vmax) {
            const double vp = std::sqrt((2.0 * a * b * dist + b * u * u) / (a + b));
            if (vp <= vmax) {
                Add(out, p, v, (vp - u) / a, dir * a);
                Add(out, p, v, vp / b, -dir * b);
                return;
            }
            const double da = (vmax * vmax - u * u) / (2.0 * a);
            const double db = vmax * vmax / (2.0 * b);
            Add(out, p, v, (vmax - u) / a, dir * a);
            Add(out, p, v, std::max(0.0, (dist - da - db) / vmax), 0.0);
            Add(out, p, v, vmax / b, -dir * b);
            return;
        }
        // Faster than the (lowered) maximum speed: slow down to it first.
        const double d1 = (u * u - vmax * vmax) / (2.0 * b);
        const double db = vmax * vmax / (2.0 * b);
        Add(out, p, v, (u - vmax) / b, -dir * b);
        Add(out, p, v, std::max(0.0, (dist - d1 - db) / vmax), 0.0);
        Add(out, p, v, vmax / b, -dir * b);
        return;
    }
}

// Phases that bring velocity v to direction * vmax; the cruise after them is
// endless.
void PlanRun(double v, int direction, double vmax, double a, double b, QVector<Phase> &out)
{
    double p = 0.0;
    const double dir = direction;
    double u = v * dir;
    if (u < 0.0) {
        Add(out, p, v, -u / b, dir * b);
        u = 0.0;
    }
    if (u < vmax)
        Add(out, p, v, (vmax - u) / a, dir * a);
    else if (u > vmax)
        Add(out, p, v, (u - vmax) / b, -dir * b);
}

QByteArray Garbage(QRandomGenerator &rng)
{
    // The first byte is never ASCII, so a garbage line can never pass for a
    // reply; no line feed inside, so it is one line.
    QByteArray g;
    g.append(static_cast<char>(0x80 + rng.bounded(0x80)));
    const int n = static_cast<int>(rng.bounded(15));
    for (int i = 0; i < n; ++i) {
        char c = static_cast<char>(rng.bounded(256));
        g.append(c == '\n' ? '\x7f' : c);
    }
    return g;
}

}  // namespace

const QList<QByteArray> &StageModel_c::Keys()
{
    static const QList<QByteArray> keys = {"pos", "refPos", "status", "home", "run", "type",
                                           "sn", "fw", "speed", "accel", "decel", "holdTorque"};
    return keys;
}

StageModel_c::StageModel_c(const StageConfig &c)
    : config(c)
    , rng(c.faults.seed)
{
    planPos = static_cast<double>(config.position);
    refPos = config.refPos;
    speed = std::max<qint64>(1, config.speed);
    accel = std::max<qint64>(1, config.accel);
    decel = std::max<qint64>(1, config.decel);
    holdTorque = config.holdTorque;
    homed = !(config.status & 4);
    errorLatched = config.status & 2;
    hardwareError = config.status & 8;
    Advance(0);  // faults timed at 0 are there from power-up
}

int StageModel_c::Status() const
{
    int s = 0;
    if (mode != Mode::Idle)
        s |= 1;
    if (errorLatched || forcedError)
        s |= 2;
    if (!homed)
        s |= 4;
    if (hardwareError)
        s |= 8;
    return s;
}

qint64 StageModel_c::Value(const QByteArray &key) const
{
    if (key == "pos")
        return ClampRound(ExactPosition(), -(1LL << 53), 1LL << 53);
    if (key == "refPos")
        return refPos;
    if (key == "status")
        return Status();
    if (key == "home")
        return mode == Mode::HomeMove || mode == Mode::HomeSettle ? 1 : 0;
    if (key == "run")
        return mode == Mode::Run ? runDirection : 0;
    if (key == "type")
        return config.type;
    if (key == "sn")
        return config.serialNumber;
    if (key == "fw")
        return config.firmware;
    if (key == "speed")
        return speed;
    if (key == "accel")
        return accel;
    if (key == "decel")
        return decel;
    if (key == "holdTorque")
        return holdTorque;
    return 0;
}

QByteArray StageModel_c::Feed(const QByteArray &received)
{
    if (hungUp)
        return {};
    QByteArray out;
    for (const char c : received) {
        if (c == '\n') {
            if (!discarding)
                HandleLine(inBuffer, out);
            inBuffer.clear();
            discarding = false;
        } else if (c == '\r' || discarding) {
            continue;
        } else if (inBuffer.size() >= kMaxLine) {
            inBuffer.clear();
            discarding = true;
        } else {
            inBuffer.append(c);
        }
    }
    if (!out.isEmpty())
        Schedule(out);
    return TakeDue();
}

void StageModel_c::HandleLine(const QByteArray &raw, QByteArray &out)
{
    const QByteArray line = raw.trimmed();
    if (line.isEmpty())
        return;
    if (lineHook)
        lineHook(line);
    ++linesSeen;
    if (line.startsWith('?')) {
        HandleQuery(line.mid(1), out);
    } else {
        const bool fixed = line.startsWith('!');
        const QByteArray body = fixed ? line.mid(1) : line;
        const int sep = body.indexOf('_');
        if (sep > 0) {
            bool ok = false;
            const double value = body.mid(sep + 1).toDouble(&ok);
            // Unparsable or non-finite numbers are ignored, as a controller
            // ignores a line it cannot read.
            if (ok && std::isfinite(value)) {
                if (fixed)
                    HandleCommand(body.left(sep), value);
                else
                    HandleSet(body.left(sep), value);
            }
        }
    }
    const int okEvery = config.faults.okEvery;
    if (okEvery > 0 && linesSeen % okEvery == 0)
        out += QByteArray("ok") + (config.faults.crlf ? "\r\n" : "\n");
}

void StageModel_c::HandleQuery(const QByteArray &key, QByteArray &out)
{
    if (Keys().contains(key))
        AppendReply(key + '_' + QByteArray::number(Value(key)), out);
}

void StageModel_c::AppendReply(const QByteArray &line, QByteArray &out)
{
    const StageFaults &f = config.faults;
    const QByteArray eol = f.crlf ? "\r\n" : "\n";
    ++repliesMade;
    if (f.dropEvery > 0 && repliesMade % f.dropEvery == 0)
        return;
    if (f.dropProbability > 0.0 && rng.generateDouble() < f.dropProbability)
        return;
    if (f.garbageEvery > 0 && repliesMade % f.garbageEvery == 0)
        out += Garbage(rng) + eol;
    if (f.commentEvery > 0 && repliesMade % f.commentEvery == 0)
        out += "# t=" + QByteArray::number(now) + eol;
    out += line + eol;
}

void StageModel_c::Schedule(const QByteArray &bytes)
{
    const StageFaults &f = config.faults;
    // Output never overtakes output that is still waiting.
    qint64 due = std::max(now + std::max(0, f.latencyMs), lastDueMs);
    if (f.splitBytes <= 0) {
        outbox.append({due, bytes});
    } else {
        for (int i = 0; i < bytes.size(); i += f.splitBytes) {
            if (i > 0)
                due += std::max(0, f.splitGapMs);
            outbox.append({due, bytes.mid(i, f.splitBytes)});
        }
    }
    lastDueMs = due;
}

QByteArray StageModel_c::TakeDue()
{
    QByteArray out;
    while (!outbox.isEmpty() && outbox.first().first <= now)
        out += outbox.takeFirst().second;
    return out;
}

void StageModel_c::HandleSet(const QByteArray &key, double value)
{
    if (key == "speed") {
        speed = ClampRound(value, 1, 100000000);
        Replan();
    } else if (key == "accel") {
        accel = ClampRound(value, 1, 1000000000);
        Replan();
    } else if (key == "decel") {
        decel = ClampRound(value, 1, 1000000000);
        Replan();
    } else if (key == "holdTorque") {
        holdTorque = ClampRound(value, 0, 100);
    } else if (key == "refPos") {
        refPos = ClampRound(value, -(1LL << 40), 1LL << 40);
    }
}

void StageModel_c::HandleCommand(const QByteArray &verb, double arg)
{
    if (verb == "pos" || (verb == "gotoRef" && arg != 0.0)) {
        const qint64 to = verb == "pos" ? ClampRound(arg, -(1LL << 40), 1LL << 40) : refPos;
        if (!MotionAllowed())
            return;
        if (!InTravel(to)) {
            errorLatched = true;
            return;
        }
        errorLatched = false;
        StartMove(static_cast<double>(to), Mode::Move);
    } else if (verb == "home" && arg != 0.0) {
        if (!MotionAllowed())
            return;
        errorLatched = false;
        homed = false;
        StartMove(0.0, Mode::HomeMove);
    } else if (verb == "run") {
        const int direction = arg > 0.0 ? 1 : arg < 0.0 ? -1 : 0;
        if (direction == 0) {
            // A stop is always honoured, on every stage type.
            errorLatched = false;
            StartStop();
            return;
        }
        if (config.type != 1) {
            errorLatched = true;  // only rotation stages run continuously
            return;
        }
        if (!MotionAllowed())
            return;
        errorLatched = false;
        StartRun(direction);
    }
}

bool StageModel_c::MotionAllowed()
{
    if (!hardwareError)
        return true;
    errorLatched = true;
    return false;
}

bool StageModel_c::InTravel(qint64 to) const
{
    if (config.type == 1)
        return true;
    return to >= config.minPos && to <= config.maxPos;
}

void StageModel_c::BeginPlan()
{
    const QPair<double, double> state = StateAt(now);
    planStartMs = now;
    planPos = state.first;
    planVel = state.second;
    phases.clear();
    settleEndMs = -1;
}

void StageModel_c::EndPlan()
{
    if (mode == Mode::Run) {
        planEndMs = -1;
        return;
    }
    double total = 0.0;
    for (const Phase &ph : phases)
        total += ph.seconds;
    total = std::min(total, kMaxPlanSeconds);
    planEndMs = planStartMs + static_cast<qint64>(std::ceil(total * 1000.0 - 1e-6));
    if (planEndMs <= now)
        FinishPlan();
}

void StageModel_c::StartMove(double to, Mode newMode)
{
    BeginPlan();
    target = to;
    mode = newMode;
    runDirection = 0;
    PlanMove(planPos, planVel, target, static_cast<double>(speed), static_cast<double>(accel),
             static_cast<double>(decel), phases);
    EndPlan();
}

void StageModel_c::StartRun(int direction)
{
    BeginPlan();
    mode = Mode::Run;
    runDirection = direction;
    // The controller counts its run direction the other way round from its
    // positions: "!run_1" (the panel's Backwards) turns toward falling ones.
    PlanRun(planVel, -direction, static_cast<double>(speed), static_cast<double>(accel),
            static_cast<double>(decel), phases);
    EndPlan();
}

void StageModel_c::StartStop()
{
    if (mode == Mode::Idle)
        return;
    BeginPlan();
    mode = Mode::Stop;
    runDirection = 0;
    double p = planPos;
    double v = planVel;
    Add(phases, p, v, std::abs(planVel) / static_cast<double>(decel),
        planVel > 0.0 ? -static_cast<double>(decel) : static_cast<double>(decel));
    EndPlan();
}

void StageModel_c::Replan()
{
    // New limits act on the motion under way, as they do on a real drive.
    switch (mode) {
    case Mode::Move:
    case Mode::HomeMove:
        StartMove(target, mode);
        break;
    case Mode::Run:
        StartRun(runDirection);
        break;
    case Mode::Stop:
        StartStop();
        break;
    case Mode::Idle:
    case Mode::HomeSettle:
        break;
    }
}

void StageModel_c::FinishPlan()
{
    const double end = (mode == Mode::Move || mode == Mode::HomeMove) ? target : StateAt(now).first;
    planPos = end;
    planVel = 0.0;
    planStartMs = now;
    phases.clear();
    planEndMs = -1;
    runDirection = 0;
    if (mode == Mode::HomeMove && config.homeSettleMs > 0) {
        mode = Mode::HomeSettle;
        settleEndMs = now + config.homeSettleMs;
        return;
    }
    if (mode == Mode::HomeMove)
        homed = true;
    mode = Mode::Idle;
}

void StageModel_c::Halt()
{
    planPos = StateAt(now).first;
    planVel = 0.0;
    planStartMs = now;
    phases.clear();
    planEndMs = -1;
    settleEndMs = -1;
    runDirection = 0;
    mode = Mode::Idle;
}

QPair<double, double> StageModel_c::StateAt(qint64 t) const
{
    double p = planPos;
    double v = planVel;
    double left = static_cast<double>(t - planStartMs) / 1000.0;
    for (const Phase &ph : phases) {
        if (left <= 0.0)
            return {p, v};
        const double dt = std::min(left, ph.seconds);
        Step(p, v, ph.accel, dt);
        left -= dt;
    }
    if (mode == Mode::Run && left > 0.0)
        p += v * left;
    else if (mode != Mode::Run && left > 0.0)
        v = 0.0;  // a finished plan is at rest
    return {p, v};
}

qint64 StageModel_c::NextEventMs() const
{
    const StageFaults &f = config.faults;
    qint64 next = -1;
    auto consider = [&next](qint64 t) {
        if (t >= 0 && (next < 0 || t < next))
            next = t;
    };
    if (mode == Mode::Move || mode == Mode::HomeMove || mode == Mode::Stop)
        consider(planEndMs);
    if (mode == Mode::HomeSettle)
        consider(settleEndMs);
    if (!forcedError)
        consider(f.errorAtMs);
    if (!hardwareError)
        consider(f.hardwareErrorAtMs);
    if (!hungUp)
        consider(f.hangUpAtMs);
    return next;
}

qint64 StageModel_c::NextWakeMs() const
{
    const qint64 event = NextEventMs();
    if (outbox.isEmpty())
        return event;
    const qint64 due = outbox.first().first;
    return event < 0 ? due : std::min(event, due);
}

void StageModel_c::RunEventsAt(qint64 t)
{
    const StageFaults &f = config.faults;
    if ((mode == Mode::Move || mode == Mode::HomeMove || mode == Mode::Stop) && planEndMs >= 0
        && planEndMs <= t)
        FinishPlan();
    if (mode == Mode::HomeSettle && settleEndMs <= t) {
        homed = true;
        settleEndMs = -1;
        mode = Mode::Idle;
    }
    if (!forcedError && f.errorAtMs >= 0 && f.errorAtMs <= t)
        forcedError = true;
    if (!hardwareError && f.hardwareErrorAtMs >= 0 && f.hardwareErrorAtMs <= t) {
        hardwareError = true;
        Halt();  // a drive fault cuts the motor at once
    }
    if (!hungUp && f.hangUpAtMs >= 0 && f.hangUpAtMs <= t)
        HangUp();
}

void StageModel_c::Advance(qint64 ms)
{
    const qint64 until = now + std::max<qint64>(0, ms);
    for (;;) {
        const qint64 next = NextEventMs();
        if (next < 0 || next > until)
            break;
        now = std::max(now, next);
        RunEventsAt(now);
    }
    now = until;
}

void StageModel_c::HangUp()
{
    hungUp = true;
    outbox.clear();
    inBuffer.clear();
}
