// The stage simulator: its model on a driven clock, its line, its program, the window against it.

#include "app/panelsession.h"
#include "sim/stagesimulator.h"
#include "support/testsupport.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

// The longest step waited for, a move of about a second, takes a few on a loaded machine.
constexpr int kWait = 5000;
// Past the range of a 32-bit count of ms: a controller that has been up for 30 days.
constexpr qint64 kMonth = 30LL * 24 * 3600 * 1000;

// A line (or several) the model receives when its clock reads atMs.
struct Sent
{
    qint64 atMs;
    QByteArray line;
};
// The model fed these lines, byte by byte, its clock then moved on to atMs.
struct Timeline
{
    StageConfig config;
    QVector<Sent> lines;
    qint64 atMs;
};
Q_DECLARE_METATYPE(Timeline)

// A simulator on the wall clock, up for upMs: sent arms its timer or not, query then reads.
struct Clocked
{
    StageConfig config;
    qint64 upMs;
    QByteArray sent;
    bool armed;
    QByteArray query, replies;
};
Q_DECLARE_METATYPE(Clocked)

// Everything the model wrote along the timeline.
static QByteArray Drive(StageModel_c &m, const Timeline &t)
{
    QByteArray out;
    for (const Sent &s : t.lines) {
        m.Advance(s.atMs - m.Now());
        out += m.TakeDue();
        for (const char c : s.line + '\n')
            out += m.Feed(QByteArray(1, c));
    }
    m.Advance(t.atMs - m.Now());
    return out + m.TakeDue();
}

// Top speed 2000/s, reached in 0.5 s over 500 units and lost in 2 s over 2000 units: a swap of
// the two ramps shows in every position.
static StageConfig Stage(int type = 0)
{
    StageConfig c;
    c.type = type;
    c.accel = 4000;
    c.decel = 1000;
    return c;
}

// Pseudo-terminals are what the simulator serves; a machine without them cannot run it.
#define REQUIRE_PTY()                                                                        \
    if (!QFileInfo::exists("/dev/ptmx"))                                                     \
    QSKIP("no /dev/ptmx on this machine")
#define OPEN_PTY(pty)                                                                        \
    REQUIRE_PTY();                                                                           \
    PtyMaster pty;                                                                           \
    QVERIFY2(pty.Open(), qPrintable(pty.ErrorString()))

// The simulator program with args; its first line names the port. False when it ended first.
static bool StartProgram(QProcess &sim, const QStringList &args, QString *port = nullptr)
{
    sim.start(STAGE_SIM_PROGRAM, args);
    if (!QTest::qWaitFor([&] { return sim.canReadLine() || sim.state() == QProcess::NotRunning; },
                         kWait) || !sim.canReadLine())
        return false;
    const QString line = QString::fromLocal8Bit(sim.readLine()).trimmed();
    if (port)
        *port = line;
    return true;
}

// What is at path: "file", "folder", "fifo", "link to TARGET" or "nothing".
static QString Kind(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "nothing";
    if (S_ISLNK(st.st_mode))
        return "link to " + QFile::symLinkTarget(path);
    return S_ISREG(st.st_mode) ? "file" : S_ISDIR(st.st_mode) ? "folder"
                                        : S_ISFIFO(st.st_mode) ? "fifo" : "other";
}

// Whether the program has ended (or ends within the wait).
static bool Ended(QProcess &sim)
{
    return sim.state() == QProcess::NotRunning || sim.waitForFinished(kWait);
}

// The program's exit code once asked to end; -1 when it does not.
static int Terminated(QProcess &sim)
{
    sim.terminate();
    return Ended(sim) ? sim.exitCode() : -1;
}

// The settings of the terminal at path, as whoever opens it finds them.
static bool LineSettings(const QString &path, termios *tio)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY);
    const bool read = fd >= 0 && tcgetattr(fd, tio) == 0;
    if (fd >= 0)
        ::close(fd);
    return read;
}

class TestStageSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        FilterPlatformNoise();
        qRegisterMetaType<QSerialPort::SerialPortError>();  // for the spy
    }

    // What a query for key answers at atMs: motion on its ramps, stops, runs, homing, limits.
    // "sleep": how long the model then sleeps, until a move, a dwell, a fault or a reply is
    // due, never for what a query reads off the clock (-1: nothing ahead).
    void motion_data()
    {
        QTest::addColumn<Timeline>("timeline");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<qint64>("value");
        const auto row = [](const char *name, const StageConfig &c, const QVector<Sent> &lines,
                            qint64 atMs, const char *key, qint64 value) {
            QTest::newRow(name) << Timeline{c, lines, atMs} << QByteArray(key) << value;
        };
        const StageConfig lin = Stage(0), rot = Stage(1);
        // 10000 units: 0.5 s up to speed, 3.75 s at speed, 2 s down; over at 6250 ms.
        const QVector<Sent> move = {{0, "!pos_10000"}};
        row("a move speeds up on its accel ramp", lin, move, 500, "pos", 500);
        row("a move brakes on its decel ramp", lin, move, 5250, "pos", 9500);
        row("a move sleeps until it ends", lin, move, 1000, "sleep", 5250);
        row("a short move peaks below the speed", lin, {{0, "!pos_400"}}, 200, "pos", 80);
        // At 250 ms: 125 units on at 1000/s; 875 to go leave room for a peak of 1265/s only.
        row("a new target during a move", lin, {{0, "!pos_10000"}, {250, "!pos_1000"}}, 1582,
            "status", 4);
        row("a move a month after power-up ends on time", lin, {{kMonth, "!pos_10000"}},
            kMonth + 6250, "status", 4);
        row("...and not before", lin, {{kMonth, "!pos_10000"}}, kMonth + 6249, "status", 5);
        row("...and sleeps until then", lin, {{kMonth, "!pos_10000"}}, kMonth, "sleep", 6250);
        // At 1000 ms the stage is at 1500 at full speed, 2000 units from a stop.
        row("a target too close to stop for: brakes, then comes back", lin,
            {{0, "!pos_10000"}, {1000, "!pos_2000"}}, 3000, "pos", 3500);
        row("a run turned round: brakes at decel, speeds up at accel", rot,
            {{0, "!run_-1"}, {1000, "!run_1"}}, 3500, "pos", 3000);
        // At 1000 ms the stage is at 1500 with full speed: braking takes 2 s over 2000 units.
        const QVector<Sent> stopped = {{0, "!pos_10000"}, {1000, "!run_0"}};
        row("a stop brakes on the decel ramp", lin, stopped, 2999, "status", 5);
        row("a stop ends where its ramp ends", lin, stopped, 3000, "status", 4);
        row("a stopped stage stays there", lin, stopped, 9000, "pos", 3500);
        row("run_-1 turns toward rising positions", rot, {{0, "!run_-1"}}, 1000, "pos", 1500);
        row("run_1 turns toward falling positions", rot, {{0, "!run_1"}}, 1000, "pos", -1500);
        row("a run reports its direction", rot, {{0, "!run_1"}}, 1000, "run", 1);
        row("a run sleeps for good", rot, {{0, "!run_1"}}, 1000, "sleep", -1);
        row("run_0 brakes a run", rot, {{0, "!run_-1"}, {1000, "!run_0"}}, 9000, "pos", 3500);
        row("a linear stage refuses a run", lin, {{0, "!run_1"}}, 100, "status", 6);
        row("a lifting stage refuses a run", Stage(2), {{0, "!run_-1"}}, 100, "status", 6);
        // From 1500 at 2000/s down to 1000/s: 1 s over 1500 units.
        row("a speed change acts on the move under way", lin,
            {{0, "!pos_100000"}, {1000, "speed_1000"}}, 3000, "pos", 4000);
        row("a speed change acts on a run", rot, {{0, "!run_-1"}, {1000, "speed_1000"}}, 3000,
            "pos", 4000);
        // At 100 ms: 20 units, 400/s; then 1 s at 1000/s^2.
        row("an accel change acts on the move under way", lin,
            {{0, "!pos_100000"}, {100, "accel_1000"}}, 1100, "pos", 920);
        // At 2000 ms the stop has 1000/s left at 3000; at 2000/s^2 it needs 250 more units.
        row("a decel change acts on a stop under way", lin,
            {{0, "!pos_100000"}, {1000, "!run_0"}, {2000, "decel_2000"}}, 9000, "pos", 3250);
        StageConfig limited = lin;
        limited.minPos = -5000;
        limited.maxPos = 5000;
        row("a move exactly to the upper limit", limited, {{0, "!pos_5000"}}, 9000, "status", 4);
        row("a move exactly to the lower limit", limited, {{0, "!pos_-5000"}}, 9000, "pos",
            -5000);
        row("a target past the limit is refused", limited, {{0, "!pos_5001"}}, 10, "status", 6);
        row("...and the stage stays", limited, {{0, "!pos_-5001"}}, 9000, "pos", 0);
        row("the next accepted command clears the refusal", limited,
            {{0, "!pos_5001"}, {10, "!run_0"}}, 20, "status", 4);
        row("so does homing", limited, {{0, "!pos_5001"}, {10, "!home_1"}}, 20, "status", 5);
        limited.type = 1;
        row("a rotation stage has no limits", limited, {{0, "!pos_6000"}}, 9000, "status", 4);
        limited.refPos = 500;
        row("gotoRef goes to the reference", limited, {{0, "!gotoRef_1"}}, 9000, "pos", 500);
        // Homed, at 3000: the homing move ends at 2750 ms, its 300 ms dwell at 3050 ms.
        StageConfig homed = lin;
        homed.status = 0;
        homed.position = 3000;
        const QVector<Sent> home = {{0, "!home_1"}};
        row("homing clears the homed bit at once", homed, home, 1, "status", 5);
        row("home reads 1 while homing", homed, home, 1, "home", 1);
        row("homing moves to 0", homed, home, 2750, "pos", 0);
        row("home reads 1 during the dwell", homed, home, 3049, "home", 1);
        row("homing dwells at 0, still moving", homed, home, 3049, "status", 5);
        row("homing sleeps through the dwell", homed, home, 2750, "sleep", 300);
        row("homed when the dwell is over", homed, home, 3050, "status", 0);
        row("home reads 0 when homed", homed, home, 3050, "home", 0);
        StageConfig faulty = rot;
        faulty.faults.errorAtMs = 500;
        row("a timed fault wakes the model", faulty, {}, 0, "sleep", 500);
        row("the error bit comes on when due", faulty, {}, 500, "status", 6);
        faulty.faults.hardwareErrorAtMs = 1000;
        row("a hardware error cuts the motor at once", faulty, {{0, "!run_-1"}}, 9000, "pos",
            1500);
        row("a hardware error is reported", faulty, {{0, "!run_-1"}}, 1000, "status", 14);
        faulty.faults.errorAtMs = -1;
        row("motion is refused under a hardware error", faulty, {{2000, "!pos_0"}}, 2001,
            "status", 14);
        row("speed is at least 1", lin, {{0, "speed_0"}}, 0, "speed", 1);
        row("speed is rounded", lin, {{0, "speed_2500.5"}}, 0, "speed", 2501);
        row("accel is at least 1", lin, {{0, "accel_-5"}}, 0, "accel", 1);
        row("decel is at least 1", lin, {{0, "decel_0"}}, 0, "decel", 1);
        row("holding torque is at most 100", lin, {{0, "holdTorque_101"}}, 0, "holdTorque", 100);
        row("holding torque is at least 0", lin, {{0, "holdTorque_-1"}}, 0, "holdTorque", 0);
        row("the reference is stored", lin, {{0, "refPos_-250"}}, 0, "refPos", -250);
        row("an unreadable target is ignored", lin, {{0, "!pos_1x"}}, 10, "status", 4);
        StageConfig slow = lin;
        slow.faults.latencyMs = 50;
        row("a reply due during a move wakes the model", slow,
            {{0, "!pos_10000"}, {100, "?pos"}}, 100, "sleep", 50);
        StageConfig split = lin;
        split.faults.splitBytes = 3;
        row("the next piece of a reply wakes the model", split, {{0, "?sn"}}, 0, "sleep", 10);
    }
    void motion()
    {
        QFETCH(Timeline, timeline);
        QFETCH(QByteArray, key);
        QFETCH(qint64, value);
        StageModel_c m(timeline.config);
        Drive(m, timeline);
        const qint64 next = m.NextWakeMs();
        const qint64 sleep = next < 0 ? -1 : next - m.Now();
        QCOMPARE(key == "sleep" ? sleep : m.Value(key), value);
    }

    // What the model writes along a timeline: the replies' form and the line's faults.
    void replies_data()
    {
        QTest::addColumn<Timeline>("timeline");
        QTest::addColumn<QByteArray>("written");
        const auto row = [](const char *name, const StageConfig &c, const QByteArray &lines,
                            qint64 atMs, const QByteArray &written) {
            QTest::newRow(name) << Timeline{c, {{0, lines}}, atMs} << written;
        };
        StageConfig c;
        row("no reply to commands or unknown keys", c, "!pos_5\nspeed_5\n?nope\n?\n_5", 0, "");
        row("CR, blanks and empty lines are ignored", c, "\n ?sn\r", 0, "sn_1234\n");
        row("a line of 256 bytes is read", c, "?sn" + QByteArray(253, ' '), 0, "sn_1234\n");
        row("a longer one is dropped up to its line feed", c,
            "?sn" + QByteArray(254, ' ') + "\n?fw", 0, "fw_123\n");
        c.faults.dropEvery = 2;
        row("every 2nd reply dropped", c, "?sn\n?fw\n?type", 0, "sn_1234\ntype_0\n");
        c = StageConfig();
        c.faults.dropProbability = 1;
        row("every reply dropped", c, "?sn\n?fw", 0, "");
        c = StageConfig();
        c.faults.crlf = true;
        row("CR LF line ends", c, "?sn", 0, "sn_1234\r\n");
        c = StageConfig();
        c.faults.okEvery = 2;
        row("ok after every 2nd line received", c, "?sn\n!pos_0\n?fw", 0, "sn_1234\nok\nfw_123\n");
        c = StageConfig();
        c.faults.commentEvery = 2;
        row("a comment before every 2nd reply", c, "?sn\n?fw", 0, "sn_1234\n# t=0\nfw_123\n");
        c = StageConfig();
        c.faults.latencyMs = 50;
        row("a reply waits out the latency", c, "?sn", 49, "");
        row("...and then comes", c, "?sn", 50, "sn_1234\n");
        c.faults.hangUpAtMs = 30;
        row("a hang-up loses the reply under way", c, "?sn", 100, "");
        c = StageConfig();
        c.faults.splitBytes = 4;
        row("pieces queue behind pieces", c, "?sn\n?type", 10, "sn_1234\ntype");
    }
    void replies()
    {
        QFETCH(Timeline, timeline);
        QFETCH(QByteArray, written);
        StageModel_c m(timeline.config);
        QCOMPARE(Drive(m, timeline), written);
    }

    // A line of random bytes never passes for a reply: its first byte is not ASCII.
    void garbageIsNoReply()
    {
        StageConfig c;
        c.faults.garbageEvery = 1;
        StageModel_c m(c);
        int garbage = 0;
        for (const QByteArray &line : m.Feed(QByteArray("?sn\n").repeated(50)).split('\n'))
            garbage += line != "sn_1234" && !line.isEmpty() && uchar(line[0]) >= 0x80;
        QCOMPARE(garbage, 50);
    }

    // On a real pseudo-terminal and the wall clock: armed only while something is ahead, then
    // quiet, and the state shows the wake-up came on time (or was not needed), also for a
    // simulator that has been up for a month.
    void onTheClock_data()
    {
        QTest::addColumn<Clocked>("t");
        StageConfig c;
        QTest::newRow("idle") << Clocked{c, 0, "", false, "?pos\n", "pos_0\n"};
        QTest::newRow("a move, a month up")
            << Clocked{c, kMonth, "!pos_500\n", true, "?pos\n?status\n", "pos_500\nstatus_4\n"};
        c.faults.latencyMs = 200;
        c.faults.splitBytes = 3;
        QTest::newRow("a delayed reply in pieces, a month up")
            << Clocked{c, kMonth, "?sn\n", true, "?fw\n", "sn_1234\nfw_123\n"};
        c = StageConfig();
        c.type = 1;
        QTest::newRow("a run reads off the clock")
            << Clocked{c, 0, "!run_1\n", false, "?run\n", "run_1\n"};
    }
    void onTheClock()
    {
        QFETCH(Clocked, t);
        OPEN_PTY(pty);
        StageSimulator_c sim(&pty, t.config);
        sim.SkipAhead(t.upMs);
        QSerialPort port(pty.SlavePath());
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        port.write(t.sent);
        QTRY_COMPARE_WITH_TIMEOUT(sim.History().size(), t.sent.count('\n'), kWait);
        QCOMPARE(sim.TimerActive(), t.armed);
        QTRY_COMPARE_WITH_TIMEOUT(sim.TimerActive(), false, kWait);
        port.write(t.query);
        QTRY_COMPARE_WITH_TIMEOUT(port.peek(256), t.replies, kWait);
    }

    // A port that another live process holds locked is skipped when a pseudo-terminal is
    // chosen; a lock whose owner is gone is stale.
    void portLock_data()
    {
        QTest::addColumn<QByteArray>("lock");  // what the lock file holds; null: no lock file
        QTest::addColumn<bool>("held");
        QProcess gone;
        gone.start("true", QStringList());
        gone.waitForStarted(kWait);
        const qint64 gonePid = gone.processId();
        gone.waitForFinished(kWait);
        QTest::newRow("no lock file") << QByteArray() << false;
        QTest::newRow("a live owner") << QByteArray::number(QCoreApplication::applicationPid())
                                             + "\n" << true;
        QTest::newRow("padded as UUCP writes it")
            << QByteArray::number(QCoreApplication::applicationPid()).rightJustified(10) + "\n"
            << true;
        QTest::newRow("an owner that is gone") << QByteArray::number(gonePid) << false;
        QTest::newRow("no PID") << QByteArray("") << true;
    }
    void portLock()
    {
        QFETCH(QByteArray, lock);
        QFETCH(bool, held);
        const QString name = "movexa-test-" + QString::number(QCoreApplication::applicationPid());
        const QString file = "/tmp/LCK.." + name;  // one of the folders locks are looked for in
        if (!lock.isNull())
            QVERIFY(WriteFileBytes(file, lock));
        const bool got = PortLockHeld("/dev/" + name);
        QFile::remove(file);
        QCOMPARE(got, held);
    }

    // The pseudo-terminal is raw from the start, whoever opens it: no echo, no line editing.
    void rawLine()
    {
        OPEN_PTY(pty);
        termios tio {};
        QVERIFY(LineSettings(pty.SlavePath(), &tio));
        QCOMPARE(tio.c_lflag & (ECHO | ICANON), tcflag_t(0));
    }

    // Closing lets go of both ends of the pseudo-terminal: replugs do not pile up descriptors.
    void closesBothEnds()
    {
        if (!QFileInfo::exists("/proc/self/fd"))
            QSKIP("no /proc/self/fd to count descriptors in");
        const auto count = [] { return QDir("/proc/self/fd").entryList(QDir::System).size(); };
        const int before = count();
        OPEN_PTY(pty);
        pty.Close();
        QCOMPARE(count(), before);
    }

    // The slave end stays open in the simulator, so the operator can untick and tick Connected
    // again: a reopened port still gets replies. A query reads the stage when it arrives, also
    // after the clock moved on unnoticed.
    void reopened()
    {
        OPEN_PTY(pty);
        StageConfig c;
        c.type = 1;
        StageSimulator_c sim(&pty, c);
        QSignalSpy hungUp(&sim, &StageSimulator_c::HungUp);
        QSerialPort port(pty.SlavePath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write("!run_-1\n");
        QTRY_COMPARE_WITH_TIMEOUT(sim.History().size(), 1, kWait);
        port.close();
        QVERIFY(!hungUp.wait(200));  // a simulator that lost its line would hang up now
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        sim.SkipAhead(10000);  // 9.9 s at 2000/s after 0.1 s of ramp: 19900 on
        port.write("?pos\n");
        QTRY_VERIFY_WITH_TIMEOUT(port.canReadLine(), kWait);
        const QByteArray reply = port.readLine();
        QVERIFY2(reply.mid(4).toLongLong() >= 19900, reply.constData());
    }

    // The options set what the controller reports; its link leads to the port it names first
    // and is gone when it ends; --verbose shows the lines; --latency holds every reply back.
    void program()
    {
        REQUIRE_PTY();
        QTemporaryDir dir;
        const QString link = dir.filePath("stage");
        QProcess sim;
        QString port;
        QVERIFY(StartProgram(sim, QString("--type 1 --sn 77 --fw 1.15 --position 250 --ref-pos "
            "-3 --status 6 --speed 900 --accel 800 --decel 700 --hold-torque 40 --crlf --verbose "
            "--latency 300 --link").split(' ') << link, &port));
        QCOMPARE(QFileInfo(link).symLinkTarget(), port);
        QSerialPort serial(link);
        QVERIFY(serial.open(QIODevice::ReadWrite));
        QElapsedTimer sent;
        sent.start();
        const QString keys = "type sn fw pos refPos status speed accel decel holdTorque";
        serial.write(("?" + QString(keys).replace(' ', "\n?") + "\n?\x7f\n").toLatin1());
        QTRY_COMPARE_WITH_TIMEOUT(QString(serial.peek(512)).split("\r\n"), QString("type_1 sn_77 "
            "fw_115 pos_250 refPos_-3 status_6 speed_900 accel_800 decel_700 holdTorque_40 ")
            .split(' '), kWait);
        QVERIFY2(sent.elapsed() >= 300, qPrintable(QString::number(sent.elapsed()) + " ms"));
        QTRY_VERIFY(QString(sim.peek(4096)).contains("<< ?type\n<< ?sn\n"));
        QVERIFY(QString(sim.peek(4096)).contains(">> type_1\\r\\nsn_77\\r\\n"));
        QVERIFY(QString(sim.peek(4096)).contains("<< ?\\x7f\n"));
        QCOMPARE(Terminated(sim), 0);
        QCOMPARE(QFileInfo(link).isSymLink(), false);
    }

    // A mistake in the options ends the program with 2, a port it cannot open with 1.
    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("unknown option") << QStringList{"--speeed", "5"} << 2;
        QTest::newRow("not a number") << QStringList{"--type", "x"} << 2;
        QTest::newRow("speed below 1") << QStringList{"--speed", "0"} << 2;
        QTest::newRow("torque above 100") << QStringList{"--hold-torque", "101"} << 2;
        QTest::newRow("firmware not a number") << QStringList{"--fw", "1.x"} << 2;
        QTest::newRow("firmware NaN") << QStringList{"--fw", "nan"} << 2;
        QTest::newRow("probability above 1") << QStringList{"--drop-probability", "1.5"} << 2;
        QTest::newRow("lower limit above the upper")
            << QStringList{"--min-pos", "10", "--max-pos", "5"} << 2;
        QTest::newRow("link and device") << QStringList{"--device", "/dev/null", "--link", "x"}
                                         << 2;
        QTest::newRow("a stray argument") << QStringList{"stage"} << 2;
        QTest::newRow("no such device") << QStringList{"--device", "/nonexistent/tty"} << 1;
        QTest::newRow("a device that is no terminal") << QStringList{"--device", "/dev/null"} << 1;
        QTest::newRow("a link in no folder") << QStringList{"--link", "/nonexistent/stage"} << 1;
    }
    void usage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QProcess sim;
        sim.start(STAGE_SIM_PROGRAM, args);
        QVERIFY(Ended(sim));
        QCOMPARE(sim.exitCode(), exitCode);
    }

    // --link replaces only a symbolic link, never follows one, and leaves anything else alone.
    void linkPlace_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("starts");
        QTest::newRow("a regular file") << "file" << false;
        QTest::newRow("a folder") << "folder" << false;
        QTest::newRow("a FIFO") << "fifo" << false;
        QTest::newRow("a link to a file") << "link to file" << true;
        QTest::newRow("a link to a folder") << "link to folder" << true;
        QTest::newRow("a dangling link") << "dangling link" << true;
    }
    void linkPlace()
    {
        REQUIRE_PTY();
        QFETCH(QString, kind);
        QFETCH(bool, starts);
        QTemporaryDir dir;
        const QString place = dir.filePath("stage"), file = dir.filePath("file");
        QVERIFY(WriteFileBytes(file, "mine\n"));
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        if (kind == "file")
            QVERIFY(WriteFileBytes(place, "mine\n"));
        else if (kind == "folder")
            QVERIFY(QDir(dir.path()).mkdir("stage"));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(place).constData(), 0600), 0);
        else
            QVERIFY(QFile::link(kind == "link to file" ? file : kind == "link to folder"
                                    ? dir.filePath("folder") : dir.filePath("gone"), place));
        QProcess sim;
        QString port;
        QCOMPARE(StartProgram(sim, {"--link", place}, &port), starts);
        QCOMPARE(Kind(place), starts ? "link to " + port : kind);
        QCOMPARE(Terminated(sim), starts ? 0 : 1);
        QCOMPARE(ReadFileBytes(file), QByteArray("mine\n"));  // not removed through a link
    }

    // A hang-up closes the line; with --replug-after a fresh controller appears on a new port
    // and the link follows it, without it the program ends and takes its link along.
    void replug()
    {
        REQUIRE_PTY();
        QTemporaryDir dir;
        const QString link = dir.filePath("stage");
        QProcess sim;
        QString first, second;
        QVERIFY(StartProgram(sim, {"--hang-up-after", "200", "--replug-after", "100", "--speed",
                                   "700", "--link", link}, &first));
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), kWait);
        QCOMPARE(sim.readLine(), QByteArray("hung up\n"));
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), kWait);
        second = QString::fromLocal8Bit(sim.readLine()).trimmed();
        QCOMPARE(QFileInfo(link).symLinkTarget(), second);
        QSerialPort port(link);
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write("?speed\n");
        QTRY_COMPARE_WITH_TIMEOUT(port.peek(64), QByteArray("speed_700\n"), kWait);
        QCOMPARE(Terminated(sim), 0);

        QVERIFY(StartProgram(sim, {"--hang-up-after", "0", "--link", link}));
        QVERIFY(Ended(sim));
        QCOMPARE(sim.exitCode(), 0);
        QCOMPARE(QFileInfo(link).isSymLink(), false);
    }

    // Served on a device, the program sets it to 115200 baud, 8N1, raw, no flow control,
    // answers on it, and ends when its far end goes away.
    void servesDevice()
    {
        OPEN_PTY(line);  // the far end of a null-modem pair
        QProcess sim;
        QVERIFY(StartProgram(sim, {"--device", line.SlavePath(), "--sn", "31"}));
        termios tio {};
        QVERIFY(LineSettings(line.SlavePath(), &tio));
        const auto is = [](tcflag_t flags, tcflag_t mask, tcflag_t value, const char *fact) {
            return (flags & mask) == value ? QString(fact) : QString("not ") + fact;
        };
        QCOMPARE(QStringList({is(cfgetispeed(&tio), ~0u, B115200, "in at 115200"),
                              is(cfgetospeed(&tio), ~0u, B115200, "out at 115200"),
                              is(tio.c_cflag, CSIZE | PARENB | CSTOPB, CS8, "8N1"),
                              is(tio.c_cflag, CREAD | CLOCAL, CREAD | CLOCAL, "receiving"),
                              is(tio.c_cflag, CRTSCTS, 0, "no RTS/CTS"),
                              is(tio.c_iflag, IXON | IXOFF | ICRNL | INLCR, 0, "raw input"),
                              is(tio.c_oflag, OPOST, 0, "raw output"),
                              is(tio.c_lflag, ECHO | ICANON, 0, "no echo or line editing")}),
                 QString("in at 115200,out at 115200,8N1,receiving,no RTS/CTS,raw input,"
                         "raw output,no echo or line editing").split(','));
        line.Write("?sn\n");
        QTRY_COMPARE_WITH_TIMEOUT(line.Received(), QByteArray("sn_31\n"), kWait);
        line.Close();
        QVERIFY(Ended(sim));
        QCOMPARE(sim.exitCode(), 0);
    }

    // The window against the simulator. A hang-up: disconnected without an error storm, then
    // reconnected. Otherwise a move shows: once the stage is there, two polls later at most
    // (replies dropped: nothing).
    void window_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("hang-up while polling") << "hang-up";
        QTest::newRow("4000 bytes without a line feed") << "flood";
        QTest::newRow("garbage between replies") << "garbage";
        QTest::newRow("replies never come") << "silent";
    }
    void window()
    {
        QFETCH(QString, fault);
        StageConfig config;
        config.faults.garbageEvery = fault == "garbage";
        config.faults.dropEvery = fault == "silent";
        OPEN_PTY(pty);
        StageSimulator_c sim(&pty, config);
        // Started as an operator starts it against the simulator; the window finds the port.
        PanelSession_c session(ParseCommandLine(
            {"movexa", "--no-remote-control", "--controller-port", pty.SlavePath()}));
        MainWindowProbe p(&session.Window());
        const auto polls = [&sim] { return sim.LinesStartingWith("?status").size(); };
        // The bulk query's, then two polls. Once none came, the later rows fail at once.
        static bool pollsCame = true;
        QVERIFY2(pollsCame, "an earlier row saw no poll reach the controller");
        pollsCame = QTest::qWaitFor([&] { return polls() >= 3; }, kWait);
        QVERIFY2(pollsCame, "no poll reached the controller");
        if (fault == "flood")  // the regression: replies after it came a dozen lines late
            pty.Write(QByteArray(4000, 'x'));  // the reply that follows goes down with it
        QSignalSpy errors(p.serial()->Port(), &QSerialPort::errorOccurred);  // a storm: hundreds
        const bool hangUp = fault == "hang-up";
        if (hangUp) {
            QTest::ignoreMessage(QtDebugMsg, "Cable disconnected.");
            sim.HangUp();
        }
        QTRY_COMPARE_WITH_TIMEOUT(p.ui()->connected_cBox->isChecked(), !hangUp, kWait);
        QCOMPARE(p.serial()->IsOpen(), !hangUp);
        QVERIFY2(errors.size() <= 4, qPrintable(QString::number(errors.size()) + " errors"));
        if (hangUp) {
            PtyMaster back;  // the controller is back, on a new port
            QVERIFY(back.Open());
            ScopedPortList listed({PtyPortEntry(back)});
            p.ui()->updatePorts_Button->click();
            p.ui()->connected_cBox->click();
            QTRY_VERIFY_WITH_TIMEOUT(back.Received().startsWith("?pos\n?refPos\n"), kWait);
            return;
        }
        p.ui()->posLineEdit->setText("1.5");
        p.ui()->goButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(sim.Model().Value("pos"), qint64(1500), kWait);
        const QLabel *label = p.ui()->AbsolutePos_Label;
        const QString shown = fault == "silent" ? "Absolute position: 0" : "Absolute position: 1.5";
        const int at = polls();
        QTRY_VERIFY_WITH_TIMEOUT(polls() > at + 2 || (fault != "silent" && label->text() == shown),
                                 kWait);
        QCOMPARE(label->text(), shown);
    }
};

QTEST_MAIN(TestStageSim)
#include "test_stagesim.moc"
