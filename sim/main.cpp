// movexa-stage-sim: a virtual stage controller on a pseudo-terminal or a
// serial device, for trying and testing the panel without hardware.

#include "sim/ptymaster.h"
#include "sim/stagesimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <cmath>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Exit code of a usage error.
constexpr int kUsageError = 2;

QTextStream &Out()
{
    static QTextStream out(stdout);
    return out;
}

QTextStream &Err()
{
    static QTextStream err(stderr);
    return err;
}

// Bytes as readable text: line ends and other control or non-ASCII bytes
// written as escapes.
QString Escaped(const QByteArray &bytes)
{
    QString s;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n')
            s += "\\n";
        else if (c == '\r')
            s += "\\r";
        else if (c == '\\')
            s += "\\\\";
        else if (u < 0x20 || u >= 0x7f)
            s += QString("\\x%1").arg(u, 2, 16, QChar('0'));
        else
            s += QChar(c);
    }
    return s;
}

int signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 1;
    // Nothing else is async-signal-safe; the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// Quits the event loop on SIGINT and SIGTERM, so that the link is removed.
void QuitOnSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

class Options
{
public:
    explicit Options(QCommandLineParser &parser)
        : p(parser)
    {
    }

    // Reads option name as a whole number in [lo, hi] into value, if given.
    template <typename T>
    void Int(const char *name, T &value, qint64 lo, qint64 hi)
    {
        if (!p.isSet(name))
            return;
        bool ok = false;
        const qint64 v = p.value(name).toLongLong(&ok);
        if (!ok || v < lo || v > hi)
            Fail(QString("--%1 wants a whole number from %2 to %3").arg(name).arg(lo).arg(hi));
        else
            value = static_cast<T>(v);
    }

    void Real(const char *name, double &value, double lo, double hi)
    {
        if (!p.isSet(name))
            return;
        bool ok = false;
        const double v = p.value(name).toDouble(&ok);
        if (!ok || !(v >= lo && v <= hi))
            Fail(QString("--%1 wants a number from %2 to %3").arg(name).arg(lo).arg(hi));
        else
            value = v;
    }

    void Fail(const QString &message)
    {
        Err() << "movexa-stage-sim: " << message << Qt::endl;
        failed = true;
    }

    bool failed = false;

private:
    QCommandLineParser &p;
};

// One powered-up controller on one port; a replug makes a fresh one.
class Session : public QObject
{
public:
    Session(const StageConfig &config, QString linkPath, QString devicePath, bool verbose,
            qint64 replugMs)
        : config(config)
        , linkPath(std::move(linkPath))
        , devicePath(std::move(devicePath))
        , verbose(verbose)
        , replugMs(replugMs)
    {
    }

    ~Session() override { RemoveLink(); }

    bool Start()
    {
        delete sim;
        sim = nullptr;
        delete port;
        port = new PtyMaster(this);
        const bool opened = devicePath.isEmpty() ? port->Open() : port->OpenDevice(devicePath);
        if (!opened) {
            Err() << "movexa-stage-sim: cannot open "
                  << (devicePath.isEmpty() ? QString("a pseudo-terminal") : devicePath) << ": "
                  << port->ErrorString() << Qt::endl;
            return false;
        }
        if (!linkPath.isEmpty() && !MakeLink())
            return false;
        Out() << port->SlavePath() << Qt::endl;
        sim = new StageSimulator_c(port, config, this);
        if (verbose) {
            connect(sim, &StageSimulator_c::LineReceived, this, [](const QByteArray &line) {
                Out() << "<< " << Escaped(line) << Qt::endl;
            });
            connect(sim, &StageSimulator_c::BytesSent, this, [](const QByteArray &bytes) {
                Out() << ">> " << Escaped(bytes) << Qt::endl;
            });
        }
        connect(sim, &StageSimulator_c::HungUp, this, &Session::OnHungUp);
        return true;
    }

private:
    void OnHungUp()
    {
        Out() << "hung up" << Qt::endl;
        RemoveLink();
        if (replugMs < 0 || !devicePath.isEmpty()) {
            QCoreApplication::quit();
            return;
        }
        QTimer::singleShot(static_cast<int>(replugMs), this, [this] {
            if (!Start())
                QCoreApplication::exit(1);
        });
    }

    bool MakeLink()
    {
        const QFileInfo info(linkPath);
        if (info.exists() || info.isSymLink()) {
            // Never replace a real file: only a stale link of ours.
            if (!info.isSymLink() || !QFile::remove(linkPath)) {
                Err() << "movexa-stage-sim: " << linkPath << " exists and is not a symbolic link"
                      << Qt::endl;
                return false;
            }
        }
        if (!QFile::link(port->SlavePath(), linkPath)) {
            Err() << "movexa-stage-sim: cannot create the link " << linkPath << Qt::endl;
            return false;
        }
        linkedTo = port->SlavePath();
        return true;
    }

    void RemoveLink()
    {
        if (linkedTo.isEmpty())
            return;
        if (QFileInfo(linkPath).symLinkTarget() == linkedTo)
            QFile::remove(linkPath);
        linkedTo.clear();
    }

    StageConfig config;
    QString linkPath;
    QString devicePath;
    bool verbose;
    qint64 replugMs;
    QString linkedTo;
    PtyMaster *port = nullptr;
    StageSimulator_c *sim = nullptr;
};

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("movexa-stage-sim");
    QCoreApplication::setApplicationVersion(MOVEXA_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Virtual stage controller. Creates a pseudo-terminal, prints its path and answers the "
        "panel's queries and commands on it, or serves an existing serial device.\n"
        "Positions are in thousandths of the display unit (um or mrad), speeds in thousandths "
        "per s, accelerations per s^2, times in ms.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QList<QCommandLineOption> options = {
        {"link", "Create a symbolic link PATH to the pseudo-terminal.", "PATH"},
        {"device", "Serve this serial device (e.g. one end of a null-modem pair) instead of a "
                   "pseudo-terminal; raw 115200 8N1.", "PATH"},
        {"verbose", "Print every received line (<<) and every write (>>)."},
        {"type", "Stage type: 0 linear, 1 rotation, 2 lifting (default 0).", "N"},
        {"sn", "Serial number (default 1234).", "N"},
        {"fw", "Firmware version (default 1.23; sent in hundredths, 123).", "VERSION"},
        {"position", "Position at power-up (default 0).", "UNITS"},
        {"ref-pos", "Reference position at power-up (default 0).", "UNITS"},
        {"status", "Status bits at power-up: 2 error, 4 not homed, 8 hardware error "
                   "(default 4).", "BITS"},
        {"speed", "Maximum speed (default 2000).", "UNITS"},
        {"accel", "Acceleration (default 20000).", "UNITS"},
        {"decel", "Deceleration (default 20000).", "UNITS"},
        {"hold-torque", "Holding torque, 0 to 100 (default 30).", "N"},
        {"min-pos", "Lower travel limit of linear and lifting stages (default -1000000).",
         "UNITS"},
        {"max-pos", "Upper travel limit of linear and lifting stages (default 1000000).",
         "UNITS"},
        {"home-settle", "Time homing dwells at 0 before it reports homed (default 300).", "MS"},
        {"error-after", "Fault: set the error bit (2) after this time.", "MS"},
        {"hardware-error-after", "Fault: set the hardware-error bit (8) after this time and "
                                 "stop the motor.", "MS"},
        {"drop-every", "Fault: lose every Nth reply line.", "N"},
        {"drop-probability", "Fault: lose each reply line with probability P (0 to 1).", "P"},
        {"seed", "Seed for --drop-probability and --garbage-every (default 1).", "N"},
        {"split", "Fault: write replies in pieces of N bytes.", "N"},
        {"split-gap", "Time between two pieces of --split (default 10).", "MS"},
        {"crlf", "Fault: end reply lines with CR LF."},
        {"ok-every", "Fault: send an \"ok\" line after every Nth received line.", "N"},
        {"comment-every", "Fault: send a \"#\" line before every Nth reply.", "N"},
        {"garbage-every", "Fault: send a line of random bytes before every Nth reply.", "N"},
        {"latency", "Fault: delay every reply by this time.", "MS"},
        {"hang-up-after", "Fault: hang up (close the line, like a pulled cable) after this "
                          "time.", "MS"},
        {"replug-after", "After a hang-up, power up a fresh controller on a new pseudo-terminal "
                         "after this time (the link follows); without it the program ends.",
         "MS"},
    };
    parser.addOptions(options);
    // Usage errors end with 2, as the panel's do (process() would end with 1).
    if (!parser.parse(app.arguments())) {
        Err() << "movexa-stage-sim: " << parser.errorText() << Qt::endl
              << "Try 'movexa-stage-sim --help' for the options." << Qt::endl;
        return kUsageError;
    }
    // --help, --help-all and --version as Qt shows them; no parse error is left.
    parser.process(app);

    StageConfig config;
    StageFaults &f = config.faults;
    Options o(parser);
    constexpr qint64 kBig = 1LL << 40;
    constexpr qint64 kIntMax = 2147483647;
    o.Int("type", config.type, -1000, 1000);
    o.Int("sn", config.serialNumber, 0, kBig);
    if (parser.isSet("fw")) {
        double fw = 0.0;
        o.Real("fw", fw, 0.0, 1e9);
        config.firmware = std::llround(fw * 100.0);
    }
    o.Int("position", config.position, -kBig, kBig);
    o.Int("ref-pos", config.refPos, -kBig, kBig);
    o.Int("status", config.status, 0, 15);
    o.Int("speed", config.speed, 1, 100000000);
    o.Int("accel", config.accel, 1, 1000000000);
    o.Int("decel", config.decel, 1, 1000000000);
    o.Int("hold-torque", config.holdTorque, 0, 100);
    o.Int("min-pos", config.minPos, -kBig, kBig);
    o.Int("max-pos", config.maxPos, -kBig, kBig);
    o.Int("home-settle", config.homeSettleMs, 0, kIntMax);
    o.Int("error-after", f.errorAtMs, 0, kBig);
    o.Int("hardware-error-after", f.hardwareErrorAtMs, 0, kBig);
    o.Int("drop-every", f.dropEvery, 0, kIntMax);
    o.Real("drop-probability", f.dropProbability, 0.0, 1.0);
    o.Int("seed", f.seed, 0, 4294967295LL);
    o.Int("split", f.splitBytes, 0, kIntMax);
    o.Int("split-gap", f.splitGapMs, 0, kIntMax);
    f.crlf = parser.isSet("crlf");
    o.Int("ok-every", f.okEvery, 0, kIntMax);
    o.Int("comment-every", f.commentEvery, 0, kIntMax);
    o.Int("garbage-every", f.garbageEvery, 0, kIntMax);
    o.Int("latency", f.latencyMs, 0, kIntMax);
    o.Int("hang-up-after", f.hangUpAtMs, 0, kBig);
    qint64 replugMs = -1;
    o.Int("replug-after", replugMs, 0, kIntMax);
    if (config.minPos > config.maxPos)
        o.Fail("--min-pos must not lie above --max-pos");
    if (parser.isSet("device") && parser.isSet("link"))
        o.Fail("--link names a pseudo-terminal; it cannot be used with --device");
    if (!parser.positionalArguments().isEmpty())
        o.Fail("unexpected argument " + parser.positionalArguments().first());
    if (o.failed)
        return kUsageError;

    QuitOnSignals(app);
    Session session(config, parser.value("link"), parser.value("device"), parser.isSet("verbose"),
                    replugMs);
    if (!session.Start())
        return 1;
    return app.exec();
}
