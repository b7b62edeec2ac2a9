#include "clients/ctl/ctl.h"

#include "app/unixsignals.h"
#include "remote/socketpath.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QLocale>
#include <QTimer>

#include <csignal>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kRequestId = 1;
constexpr int kStopId = 2;

const QStringList kSettable = {"speed", "accel", "decel", "torque"};

void Print(FILE *to, const QString &line)
{
    std::fputs(qPrintable(line + '\n'), to);
    std::fflush(to);
}

// A finite number and nothing else: "1.5x", "nan", "inf" and padding are
// mistakes, never a silent 0 or a motion to infinity.
bool StrictNumber(const QString &text, double *out)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || text != text.trimmed() || !std::isfinite(value))
        return false;
    *out = value;
    return true;
}

CtlCommand Failed(const QString &error)
{
    CtlCommand c;
    c.action = CtlCommand::Action::Fail;
    c.error = error;
    return c;
}

// "1.5", "true", "mm", "[-1000,1000]": a JSON value as a shell reader wants it.
QString Scalar(const QJsonValue &v)
{
    if (v.isString())
        return v.toString();
    const QByteArray text = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(text.mid(1, text.size() - 2));
}

// "key=value" pairs, nested objects as "outer.inner=value".
void Flatten(const QJsonObject &o, const QString &prefix, QStringList *out)
{
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (it->isObject())
            Flatten(it->toObject(), prefix + it.key() + '.', out);
        else
            *out << prefix + it.key() + '=' + Scalar(*it);
    }
}

QString Pairs(const QJsonObject &o)
{
    QStringList pairs;
    Flatten(o, {}, &pairs);
    return pairs.join(' ');
}

// One connection, one request (and a stop on Ctrl+C); ends the event loop
// with the exit code.
class Session : public QObject
{
public:
    explicit Session(const CtlCommand &command) : command(command)
    {
        connect(&socket, &QLocalSocket::connected, this, &Session::Send);
        connect(&socket, &QLocalSocket::readyRead, this, &Session::Read);
        connect(&socket, &QLocalSocket::disconnected, this, [this] {
            Finish(kCtlOther, "the panel closed the connection");
        });
        connect(&socket, &QLocalSocket::errorOccurred, this, &Session::OnError);
        connect(&unixSignals, &UnixSignals_c::Received, this, &Session::OnSignal);
    }

    void Start() { socket.connectToServer(Path()); }

private:
    QString Path() const
    {
        return command.socket.isEmpty() ? DefaultControlSocketPath() : command.socket;
    }

    bool Waits() const
    {
        return command.method == "wait" || command.params.value("wait").toBool();
    }

    void Request(int id, const QString &method, const QJsonObject &params = {})
    {
        QJsonObject r{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}};
        if (!params.isEmpty())
            r.insert("params", params);
        socket.write(QJsonDocument(r).toJson(QJsonDocument::Compact) + '\n');
    }

    void Send()
    {
        everConnected = true;
        if (command.action == CtlCommand::Action::Watch)
            Request(kRequestId, "subscribe");
        else
            Request(kRequestId, command.method, command.params);
    }

    void Read()
    {
        while (!finished && socket.canReadLine()) {
            const QByteArray line = socket.readLine().trimmed();
            const QJsonObject message = QJsonDocument::fromJson(line).object();
            if (message.contains("method"))
                Notification(line, message);
            else if (message.value("id").toInt() == kRequestId)
                Reply(line, message);
        }
    }

    void Notification(const QByteArray &line, const QJsonObject &message)
    {
        if (command.action != CtlCommand::Action::Watch)
            return;
        Print(stdout, command.json ? QString::fromUtf8(line)
                                   : Pairs(message.value("params").toObject()));
    }

    void Reply(const QByteArray &line, const QJsonObject &message)
    {
        if (message.contains("error")) {
            const QJsonObject e = message.value("error").toObject();
            if (command.json)
                Print(stdout, QString::fromUtf8(line));
            Finish(kCtlOther, command.json ? QString()
                                           : QString("%1 (%2)").arg(e.value("message").toString())
                                                 .arg(e.value("code").toInt()));
            return;
        }
        if (command.action == CtlCommand::Action::Watch)
            return;  // subscribed: status lines follow
        const QJsonObject result = message.value("result").toObject();
        if (command.json)
            Print(stdout, QString::fromUtf8(line));
        if (!result.contains("outcome")) {
            if (!command.json)
                Print(stdout, Pairs(result));
            Finish(kCtlDone);
            return;
        }
        const QString outcome = result.value("outcome").toString();
        if (!command.json)
            Print(stdout, outcome + (result.contains("position")
                                         ? ' ' + Scalar(result.value("position")) : QString()));
        Finish(outcome == "done" || outcome == "sent" ? kCtlDone : kCtlOther);
    }

    void OnError(QLocalSocket::LocalSocketError e)
    {
        if (everConnected)
            return;  // disconnected() says it
        const bool nobody =
            e == QLocalSocket::ServerNotFoundError || e == QLocalSocket::ConnectionRefusedError;
        // Qt calls a missing socket file an "invalid name": say what it means.
        Finish(nobody ? kCtlNoPanel : kCtlOther,
               nobody ? "no panel listening on " + Path()
                      : "cannot connect to " + Path() + ": " + socket.errorString());
    }

    void OnSignal(int number)
    {
        if (number == SIGINT && command.action == CtlCommand::Action::Watch) {
            Finish(kCtlDone);
        } else if (number == SIGINT && Waits() && everConnected && !stopSent) {
            // The motion must not outlive the wait the user gave up on; the
            // wait's own reply ("stopped") then ends the program.
            stopSent = true;
            Request(kStopId, "stop");
            Print(stderr, "movexa-ctl: stopping the stage");
        } else {
            Finish(128 + number);
        }
    }

    void Finish(int code, const QString &error = {})
    {
        if (finished)
            return;
        finished = true;
        if (!error.isEmpty())
            Print(stderr, "movexa-ctl: " + error);
        socket.disconnect(this);
        socket.flush();  // a stop just written must still go out
        QCoreApplication::exit(code);
    }

    const CtlCommand command;
    QLocalSocket socket;
    UnixSignals_c unixSignals;
    bool everConnected = false;
    bool stopSent = false;
    bool finished = false;
};

}  // namespace

// The default path is described, not resolved: the manual page is made from this text.
QString CtlUsage()
{
    return "Usage: movexa-ctl [--socket PATH] [--json] COMMAND [ARGUMENTS] [--wait] [--timeout S]\n"
           "Drives the stage through the running Movexa panel.\n\n"
           "Commands (positions absolute, in the stage's unit, mm or rad):\n"
           "  hello                  protocol, stage type, unit and limits\n"
           "  status                 one line of key=value pairs\n"
           "  move POSITION          to a position\n"
           "  step DISTANCE          from the last read position\n"
           "  home                   to the home switch\n"
           "  go_to_reference        to the reference position\n"
           "  set_reference AT       set the reference position, as the form's Set\n"
           "  run forward|backward   continuously; rotation stages only\n"
           "  stop                   the stage, and a station loop\n"
           "  set NAME=VALUE...      speed, accel, decel (unit/s, unit/s^2), torque (0-100)\n"
           "  wait                   until the motion under way ends\n"
           "  watch                  status lines until Ctrl+C\n\n"
           "Options:\n"
           "  --wait                 move, step, home, go_to_reference: until the motion ends\n"
           "  --timeout S            give up waiting after S seconds (default: the travel\n"
           "                         time estimate and a margin)\n"
           "  --socket PATH          the panel's control socket (default:\n"
           "                         $XDG_RUNTIME_DIR/movexa/control.sock)\n"
           "  --json                 print the replies as the panel sent them\n"
           "  -h, --help             this text\n"
           "  --version              the version\n\n"
           "Ctrl+C during a wait stops the stage.\n"
           "Exit status: 0 done or sent, 1 another outcome or an error reply, 2 usage error,\n"
           "3 no panel listening.\n";
}

CtlCommand ParseCtlArguments(const QStringList &args)
{
    CtlCommand c;
    QStringList operands;
    bool wait = false;
    QString timeout;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const QString name = a.section('=', 0, 0);
        const bool inlineValue = a.startsWith("--") && a.contains('=');
        const auto value = [&](QString *out) {
            if (inlineValue)
                *out = a.section('=', 1);
            else if (i + 1 < args.size())
                *out = args[++i];
            else
                return false;
            return true;
        };
        if (a == "-h" || a == "--help")
            c.action = CtlCommand::Action::Help;
        else if (a == "--version")
            c.action = CtlCommand::Action::Version;
        else if (a == "--json")
            c.json = true;
        else if (a == "--wait")
            wait = true;
        else if (name == "--socket") {
            if (!value(&c.socket) || c.socket.isEmpty())
                return Failed("--socket wants a path");
        } else if (name == "--timeout") {
            if (!value(&timeout))
                return Failed("--timeout wants a number of seconds");
        } else if (a.startsWith("--"))
            return Failed("unknown option " + a);
        else
            operands << a;  // "-0.1" is a step, not an option
    }
    if (c.action != CtlCommand::Action::Request)
        return c;
    if (operands.isEmpty())
        return Failed("no command given");
    c.method = operands.takeFirst();
    const QString &m = c.method;

    static const QStringList kWaiting = {"move", "step", "home", "go_to_reference"};
    static const QStringList kOneNumber = {"move", "step", "set_reference"};
    static const QStringList kPlain = {"hello", "status", "stop", "watch", "home",
                                       "go_to_reference", "wait"};
    if (!kWaiting.contains(m) && wait)
        return Failed(m + " takes no --wait");
    if (!kWaiting.contains(m) && m != "wait" && !timeout.isNull())
        return Failed(m + " takes no --timeout");
    if (!timeout.isNull()) {
        double seconds = 0.0;
        if (!StrictNumber(timeout, &seconds))
            return Failed("--timeout wants a number of seconds, not '" + timeout + "'");
        c.params.insert("timeout", seconds);
    }
    if (kWaiting.contains(m) && wait)
        c.params.insert("wait", true);

    if (kOneNumber.contains(m)) {
        double number = 0.0;
        if (operands.size() != 1 || !StrictNumber(operands[0], &number))
            return Failed(m + " wants one number"
                          + (operands.size() == 1 ? ", not '" + operands[0] + "'" : QString()));
        c.params.insert(m == "move" ? "to" : m == "step" ? "by" : "at", number);
    } else if (m == "run") {
        if (operands.size() != 1 || (operands[0] != "forward" && operands[0] != "backward"))
            return Failed("run wants forward or backward");
        c.params.insert("direction", operands[0]);
    } else if (m == "set") {
        if (operands.isEmpty())
            return Failed("set wants NAME=VALUE, NAME one of " + kSettable.join(", "));
        for (const QString &pair : qAsConst(operands)) {
            const QString key = pair.section('=', 0, 0);
            double number = 0.0;
            if (!kSettable.contains(key) || !pair.contains('=')
                || !StrictNumber(pair.section('=', 1), &number))
                return Failed("set wants NAME=VALUE, NAME one of " + kSettable.join(", ")
                              + " and VALUE a number, not '" + pair + "'");
            c.params.insert(key, number);
        }
    } else if (!kPlain.contains(m)) {
        return Failed("unknown command '" + m + "'");
    } else if (!operands.isEmpty()) {
        return Failed(m + " takes no argument '" + operands[0] + "'");
    }
    if (m == "watch")
        c.action = CtlCommand::Action::Watch;
    return c;
}

int RunCtl(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("movexa-ctl");
    QCoreApplication::setApplicationVersion(MOVEXA_VERSION);
    const CtlCommand command = ParseCtlArguments(QCoreApplication::arguments().mid(1));
    switch (command.action) {
    case CtlCommand::Action::Help:
        std::fputs(qPrintable(CtlUsage()), stdout);
        return kCtlDone;
    case CtlCommand::Action::Version:
        Print(stdout, "movexa-ctl " MOVEXA_VERSION);
        return kCtlDone;
    case CtlCommand::Action::Fail:
        Print(stderr, "movexa-ctl: " + command.error
                          + "\nTry 'movexa-ctl --help' for the commands.");
        return kCtlUsage;
    default:
        break;
    }
    Session session(command);
    QTimer::singleShot(0, &session, &Session::Start);
    return app.exec();
}
