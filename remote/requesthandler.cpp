#include "remote/requesthandler.h"

#include "link/numeric.h"
#include "remote/stagecontrol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QTimer>

#include <cmath>

struct RequestHandler_c::Reply
{
    enum class Kind { Result, Error, Later };
    Kind kind = Kind::Result;
    QJsonObject result;
    int code = 0;
    QString message;

    static Reply Ok(const QJsonObject &result) { return {Kind::Result, result, 0, {}}; }
    static Reply Sent() { return Ok({{"outcome", "sent"}}); }
    static Reply Fail(int code, const QString &message) { return {Kind::Error, {}, code, message}; }
    static Reply Later() { return {Kind::Later, {}, 0, {}}; }
};

namespace {

const char *const kStageTypeNames[] = {"linear", "rotation", "lifting"};

QByteArray Line(const QJsonObject &message)
{
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject ResultMessage(const QJsonValue &id, const QJsonObject &result)
{
    return {{"jsonrpc", "2.0"}, {"id", id}, {"result", result}};
}

QJsonArray Pair(const Range &r)
{
    return {r.min, r.max};
}

// Reads the params of one request and says what is wrong with them, naming
// the field and what it accepts.
class ParamReader
{
public:
    ParamReader(const QString &method, const QJsonObject &params) : method(method), params(params) {}

    // Fails on a name the method does not take: a typo must not pass silently.
    bool OnlyThese(const QStringList &names)
    {
        for (auto it = params.begin(); it != params.end(); ++it) {
            if (!names.contains(it.key())) {
                error = names.isEmpty()
                            ? QString("%1 takes no parameters, not '%2'").arg(method, it.key())
                            : QString("unknown parameter '%1'; %2 takes %3")
                                  .arg(it.key(), method, names.join(", "));
                return false;
            }
        }
        return true;
    }

    bool Has(const char *name) const { return params.contains(name); }

    // A number within range; what = "a number from -1 to 1 mm" is said on failure.
    bool Number(const char *name, const Range &range, const QString &unit, bool required,
                double *out)
    {
        const QString accepted = "a number " + RangeText(range) + (unit.isEmpty() ? "" : " " + unit);
        const QJsonValue v = params.value(name);
        if (v.isUndefined()) {
            if (required)
                error = QString("missing '%1': %2").arg(name, accepted);
            return !required;
        }
        if (!v.isDouble() || !InRange(v.toDouble(), range)) {
            error = QString("'%1' must be %2").arg(name, accepted);
            return false;
        }
        *out = v.toDouble();
        return true;
    }

    bool Bool(const char *name, bool *out)
    {
        const QJsonValue v = params.value(name);
        if (v.isUndefined())
            return true;
        if (!v.isBool()) {
            error = QString("'%1' must be true or false").arg(name);
            return false;
        }
        *out = v.toBool();
        return true;
    }

    QString error;

private:
    const QString method;
    const QJsonObject &params;
};

}  // namespace

QString RequestHandler_c::OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done: return "done";
    case Outcome::Stopped: return "stopped";
    case Outcome::Operator: return "operator";
    case Outcome::Superseded: return "superseded";
    case Outcome::Error: return "error";
    case Outcome::Disconnected: return "disconnected";
    case Outcome::Timeout: return "timeout";
    }
    return "error";
}

RequestHandler_c::RequestHandler_c(StageControl_c *stage, QObject *parent)
    : QObject(parent)
    , stage(stage)
{
    connect(stage, &StageControl_c::Polled, this, &RequestHandler_c::OnPolled);
    connect(stage, &StageControl_c::ConnectionChanged, this,
            &RequestHandler_c::OnConnectionChanged);
    connect(stage, &StageControl_c::OperatorMotion, this, [this] { EndMotion(Outcome::Operator); });
    connect(stage, &StageControl_c::LoopStateChanged, this, [this] {
        Notify("status", StatusObject());
    });
}

RequestHandler_c::~RequestHandler_c()
{
    for (const Waiter &w : waiters)
        delete w.timer;
}

int RequestHandler_c::AddClient()
{
    const int client = nextClient++;
    sessions.insert(client, Session());
    ActivityChanged();
    return client;
}

void RequestHandler_c::RemoveClient(int client)
{
    if (!sessions.remove(client))
        return;
    for (int i = waiters.size() - 1; i >= 0; --i) {
        if (waiters[i].client == client) {
            delete waiters[i].timer;
            waiters.removeAt(i);
        }
    }
    // Nobody is left to stop a run whose script went away.
    if (motion.active && motion.continuous && motion.owner == client) {
        stage->Stop();
        EndMotion(Outcome::Stopped);
    }
    ActivityChanged();
}

QByteArray RequestHandler_c::ErrorLine(const QJsonValue &id, int code, const QString &message)
{
    return Line({{"jsonrpc", "2.0"},
                 {"id", id},
                 {"error", QJsonObject{{"code", code}, {"message", message}}}});
}

QByteArray RequestHandler_c::HandleLine(int client, const QByteArray &line)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return ErrorLine(QJsonValue::Null, kParseError,
                         QString("not JSON: %1 at byte %2")
                             .arg(parseError.errorString())
                             .arg(parseError.offset));
    if (!doc.isObject())
        return ErrorLine(QJsonValue::Null, kInvalidRequest,
                         "a request is one JSON object; batches are not taken");
    const QJsonObject request = doc.object();
    const bool wantsReply = request.contains("id");
    // An invalid request is answered even without an id, with a null one.
    const QJsonValue id = wantsReply ? request.value("id") : QJsonValue(QJsonValue::Null);
    if (wantsReply && !(id.isString() || id.isDouble() || id.isNull()))
        return ErrorLine(QJsonValue::Null, kInvalidRequest, "'id' must be a string or a number");
    if (request.value("jsonrpc") != QJsonValue("2.0"))
        return ErrorLine(id, kInvalidRequest, "'jsonrpc' must be \"2.0\"");
    const QJsonValue method = request.value("method");
    if (!method.isString())
        return ErrorLine(id, kInvalidRequest, "'method' must be a string");
    const QJsonValue params = request.value("params");
    if (!(params.isUndefined() || params.isNull() || params.isObject()))
        return wantsReply ? ErrorLine(id, kInvalidParams, "'params' must be an object")
                          : QByteArray();

    const Reply reply = Dispatch(client, method.toString(), params.toObject(), wantsReply, id);
    if (!wantsReply || reply.kind == Reply::Kind::Later)
        return {};
    if (reply.kind == Reply::Kind::Error)
        return ErrorLine(id, reply.code, reply.message);
    return Line(ResultMessage(id, reply.result));
}

RequestHandler_c::Reply RequestHandler_c::Dispatch(int client, const QString &method,
                                                   const QJsonObject &params, bool wantsReply,
                                                   const QJsonValue &id)
{
    static const QStringList kNoParams = {"hello", "status", "stop", "subscribe", "unsubscribe"};
    if (kNoParams.contains(method)) {
        ParamReader p(method, params);
        if (!p.OnlyThese({}))
            return Reply::Fail(kInvalidParams, p.error);
        if (method == "hello")
            return Hello();
        if (method == "status")
            return Status();
        if (method == "stop")
            return Stop();
        sessions[client].subscribed = method == "subscribe";
        return Reply::Ok({{"subscribed", sessions[client].subscribed}});
    }
    if (method == "move" || method == "step" || method == "run" || method == "home"
        || method == "go_to_reference")
        return StartMotion(client, method, params, wantsReply, id);
    if (method == "set")
        return Set(params);
    if (method == "set_reference")
        return SetReference(params);
    if (method == "wait")
        return Wait(client, params, wantsReply, id);
    return Reply::Fail(kMethodNotFound,
                       QString("no method '%1'; there are hello, status, move, step, run, stop, "
                               "home, go_to_reference, set_reference, set, wait, subscribe, "
                               "unsubscribe")
                           .arg(method));
}

QString RequestHandler_c::Unit() const
{
    return stage->Snapshot().unit;
}

RequestHandler_c::Reply RequestHandler_c::Hello() const
{
    const StageSnapshot s = stage->Snapshot();
    const StageLimits l = stage->Limits();
    const bool known = s.identified && s.stageType >= 0 && s.stageType < 3;
    const QJsonObject stageInfo{
        {"type", known ? QJsonValue(kStageTypeNames[s.stageType]) : QJsonValue()},
        {"unit", s.unit},
        {"serialNumber", s.identified ? QJsonValue(double(s.serialNumber)) : QJsonValue()},
        {"firmware", s.identified ? QJsonValue(s.firmware) : QJsonValue()}};
    const QJsonObject limits{{"position", Pair(l.position)},
                             {"speed", Pair(l.speed)},
                             {"accel", Pair(l.accel)},
                             {"decel", Pair(l.decel)},
                             {"torque", Pair(l.torque)}};
    return Reply::Ok({{"protocol", 1},
                      {"version", MOVEXA_VERSION},
                      {"connected", s.connected},
                      {"stage", stageInfo},
                      {"limits", limits}});
}

QJsonObject RequestHandler_c::StatusObject() const
{
    const StageSnapshot s = stage->Snapshot();
    return {{"connected", s.connected},
            {"position", s.position},
            {"reference", s.reference},
            {"offset", s.offset},
            {"moving", s.moving},
            {"error", s.error},
            {"hardwareError", s.hardwareError},
            {"homed", s.homed},
            {"speed", s.speed},
            {"accel", s.accel},
            {"decel", s.decel},
            {"torque", s.torque},
            {"loopRunning", s.loopRunning}};
}

RequestHandler_c::Reply RequestHandler_c::Status() const
{
    return Reply::Ok(StatusObject());
}

RequestHandler_c::Reply RequestHandler_c::StartMotion(int client, const QString &method,
                                                      const QJsonObject &params, bool wantsReply,
                                                      const QJsonValue &id)
{
    ParamReader p(method, params);
    const StageLimits limits = stage->Limits();
    const QString unit = Unit();
    double to = 0.0, by = 0.0, timeout = 0.0;
    bool wait = false;
    QString direction;
    bool ok = false;
    if (method == "move")
        ok = p.OnlyThese({"to", "wait", "timeout"})
             && p.Number("to", limits.position, unit, true, &to);
    else if (method == "step") {
        const double span = limits.position.max - limits.position.min;
        ok = p.OnlyThese({"by", "wait", "timeout"})
             && p.Number("by", Range{-span, span}, unit, true, &by);
    } else if (method == "run") {
        ok = p.OnlyThese({"direction"});
        direction = params.value("direction").toString();
        if (ok && direction != "forward" && direction != "backward") {
            p.error = "'direction' must be \"forward\" or \"backward\"";
            ok = false;
        }
    } else {
        ok = p.OnlyThese({"wait", "timeout"});
    }
    ok = ok && p.Bool("wait", &wait) && p.Number("timeout", kTimeoutRange, "s", false, &timeout);
    if (!ok)
        return Reply::Fail(kInvalidParams, p.error);

    const StageSnapshot s = stage->Snapshot();
    if (!s.connected)
        return Reply::Fail(kNotConnected, "not connected to a controller");
    if (s.loopRunning)
        return Reply::Fail(kLoopRunning, "a station loop is running; stop ends it");

    const QString number = "%1 " + unit;
    double target = s.position;  // display units, for the estimate
    if (method == "move") {
        BeginMotion(client, "move to " + number.arg(to), false);
        stage->MoveTo(ToControllerUnitsTrunc(to));
        target = to;
    } else if (method == "step") {
        const int position = StepTarget(ToControllerUnitsRound(s.position), by);
        target = ToDisplayUnits(position);
        if (!InRange(target, limits.position))
            return Reply::Fail(kInvalidParams,
                               QString("'by' would step to %1, outside the positions %2 %3")
                                   .arg(target)
                                   .arg(RangeText(limits.position), unit));
        BeginMotion(client, "step by " + number.arg(by), false);
        stage->MoveTo(position);
    } else if (method == "run") {
        if (!s.identified)
            return Reply::Fail(kNotForThisStage,
                               "the stage type is not read yet; hello names it once it is");
        if (s.stageType != 1)
            return Reply::Fail(kNotForThisStage, "run is for rotation stages only");
        BeginMotion(client, "run " + direction, true);
        stage->Run(direction == "backward");
    } else if (method == "home") {
        BeginMotion(client, "home", false);
        stage->Home();
        target = 0.0;
    } else {
        BeginMotion(client, "go to reference", false);
        stage->GoToReference();
        target = s.reference;
    }
    if (!wait || !wantsReply)
        return Reply::Sent();
    const int ms = p.Has("timeout")
                       ? SecondsToMs(timeout)
                       : DefaultWaitTimeoutMs(stage->TravelEstimateSeconds(s.position, target));
    AddWaiter(client, id, ms);
    return Reply::Later();
}

RequestHandler_c::Reply RequestHandler_c::Stop()
{
    // Always taken, connected or not: it is the one command that must never fail.
    stage->Stop();
    EndMotion(Outcome::Stopped);
    return Reply::Sent();
}

RequestHandler_c::Reply RequestHandler_c::Set(const QJsonObject &params)
{
    ParamReader p("set", params);
    const StageLimits l = stage->Limits();
    const QString unit = Unit();
    double speed = 0.0, accel = 0.0, decel = 0.0, torque = 0.0;
    // Everything is checked before anything moves: a bad field changes nothing.
    if (!p.OnlyThese({"speed", "accel", "decel", "torque"})
        || !p.Number("speed", l.speed, unit + "/s", false, &speed)
        || !p.Number("accel", l.accel, unit + "/s^2", false, &accel)
        || !p.Number("decel", l.decel, unit + "/s^2", false, &decel)
        || !p.Number("torque", l.torque, "", false, &torque))
        return Reply::Fail(kInvalidParams, p.error);
    if (params.isEmpty())
        return Reply::Fail(kInvalidParams, "set needs one or more of speed, accel, decel, torque");
    if (!stage->Snapshot().connected)
        return Reply::Fail(kNotConnected, "not connected to a controller");
    const auto slider = [&](const char *name, double value, bool thousandths) {
        if (!p.Has(name))
            return -1;
        return thousandths ? ToControllerUnitsRound(value) : SaturateToInt(std::round(value));
    };
    stage->SetSliders(slider("speed", speed, true), slider("accel", accel, true),
                      slider("decel", decel, true), slider("torque", torque, false));
    return Reply::Sent();
}

RequestHandler_c::Reply RequestHandler_c::SetReference(const QJsonObject &params)
{
    ParamReader p("set_reference", params);
    double at = 0.0;
    if (!p.OnlyThese({"at"}) || !p.Number("at", stage->Limits().position, Unit(), true, &at))
        return Reply::Fail(kInvalidParams, p.error);
    if (!stage->Snapshot().connected)
        return Reply::Fail(kNotConnected, "not connected to a controller");
    stage->SetReference(ToControllerUnitsTrunc(at));
    return Reply::Sent();
}

RequestHandler_c::Reply RequestHandler_c::Wait(int client, const QJsonObject &params,
                                               bool wantsReply, const QJsonValue &id)
{
    ParamReader p("wait", params);
    double timeout = 0.0;
    if (!p.OnlyThese({"timeout"}) || !p.Number("timeout", kTimeoutRange, "s", false, &timeout))
        return Reply::Fail(kInvalidParams, p.error);
    const StageSnapshot s = stage->Snapshot();
    if (!s.connected)
        return Reply::Fail(kNotConnected, "not connected to a controller");
    if (!wantsReply)
        return Reply::Sent();
    // Nothing commanded through the socket: watch whatever the stage does now.
    if (!motion.active)
        BeginMotion(client, "wait", false);
    int ms = 0;
    if (p.Has("timeout")) {
        ms = SecondsToMs(timeout);
    } else {
        // The motion's target is unknown here; the longest travel bounds it.
        const Range r = stage->Limits().position;
        const double far = s.position - r.min > r.max - s.position ? r.min : r.max;
        ms = DefaultWaitTimeoutMs(stage->TravelEstimateSeconds(s.position, far));
    }
    AddWaiter(client, id, ms);
    return Reply::Later();
}

void RequestHandler_c::BeginMotion(int owner, const QString &what, bool continuous)
{
    EndMotion(Outcome::Superseded);
    motion = Motion{true, owner, continuous, what, MotionWatch()};
    ActivityChanged();
}

void RequestHandler_c::AddWaiter(int client, const QJsonValue &id, int timeoutMs)
{
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, timer] { EndWaiter(timer, Outcome::Timeout); });
    timer->start(timeoutMs);
    waiters.append({client, id, timer});
}

QByteArray RequestHandler_c::OutcomeLine(const QJsonValue &id, Outcome outcome) const
{
    return Line(ResultMessage(
        id, {{"outcome", OutcomeName(outcome)}, {"position", stage->Snapshot().position}}));
}

void RequestHandler_c::EndWaiter(QTimer *timer, Outcome outcome)
{
    for (int i = 0; i < waiters.size(); ++i) {
        if (waiters[i].timer == timer) {
            const Waiter w = waiters.takeAt(i);
            w.timer->deleteLater();
            emit Deliver(w.client, OutcomeLine(w.id, outcome));
            return;
        }
    }
}

void RequestHandler_c::EndMotion(Outcome outcome)
{
    if (!motion.active)
        return;
    motion.active = false;
    // Taken first: a delivery may drop a client, which must not touch the list.
    const QList<Waiter> ended = waiters;
    waiters.clear();
    for (const Waiter &w : ended) {
        w.timer->stop();
        w.timer->deleteLater();
        emit Deliver(w.client, OutcomeLine(w.id, outcome));
    }
    ActivityChanged();
}

void RequestHandler_c::OnPolled()
{
    if (motion.active) {
        const StageSnapshot s = stage->Snapshot();
        const MotionProgress progress = motion.watch.Feed(s.moving, s.error);
        if (progress == MotionProgress::Done)
            EndMotion(Outcome::Done);
        else if (progress == MotionProgress::Error)
            EndMotion(Outcome::Error);
    }
    for (const Session &session : qAsConst(sessions)) {
        if (session.subscribed) {  // the snapshot is built only for listeners
            Notify("status", StatusObject());
            break;
        }
    }
}

void RequestHandler_c::OnConnectionChanged(bool connected)
{
    if (!connected)
        EndMotion(Outcome::Disconnected);
    Notify("connection", {{"connected", connected}});
}

void RequestHandler_c::Notify(const QString &method, const QJsonObject &params)
{
    QByteArray line;
    for (auto it = sessions.cbegin(); it != sessions.cend(); ++it) {
        if (!it->subscribed)
            continue;
        if (line.isEmpty())
            line = Line({{"jsonrpc", "2.0"}, {"method", method}, {"params", params}});
        emit Deliver(it.key(), line);
    }
}

QString RequestHandler_c::Activity() const
{
    if (sessions.isEmpty())
        return {};
    QString text = QString("Scripts: %1").arg(sessions.size());
    if (motion.active)
        text += QString::fromUtf8(" \u00b7 ") + motion.what;
    return text;
}

void RequestHandler_c::ActivityChanged()
{
    stage->ShowRemoteActivity(Activity());
}
