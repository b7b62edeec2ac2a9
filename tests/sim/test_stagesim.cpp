// The stage simulator: its model on a driven clock, its program, the window against it, faults.

#include "app/panelsession.h"
#include "app/stagemath.h"
#include "sim/stagesimulator.h"
#include "support/testsupport.h"

#include <QtTest>

Q_DECLARE_METATYPE(StageConfig)

// The longest step waited for, a move of about a second, takes a few on a loaded machine.
constexpr int kWait = 5000;

enum Fault { HangUp, Flood, Garbage, Silent };

class TestStageSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<QSerialPort::SerialPortError>(); }  // for the spy

    // Script words are lines for the model; "+ms" moves its clock on: "/" and what fell due.
    void model_data()
    {
        QTest::addColumn<StageConfig>("config");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QRegularExpression>("output");
        StageConfig c;
        const auto row = [&c](const char *tag, const QString &script, const QString &output) {
            QTest::newRow(tag) << c << script.toLatin1()
                               << QRegularExpression(QRegularExpression::anchoredPattern(output));
            c = StageConfig();
        };
        // A move ends when the loop sequencer's estimate says, give or take 10 ms.
        const double ms = 1000 * TravelTimeSeconds(10000, 10000, 10000, 1000) - 10;
        row("10 mm at 1 mm/s, 10 mm/s^2", QString::asprintf("speed_1000 accel_10000 decel_10000 "
            "!pos_10000 +%.0f ?status +20 ?status ?pos", ms), "/status_5 /status_4 pos_10000 ");
        c.type = 1;  // the only type that runs
        c.faults.errorAtMs = 12000;
        c.faults.hardwareErrorAtMs = 13000;  // and the motor stops
        row("run_0 brakes, homing, error bits", "!run_-1 +1000 !run_0 ?status +1000 ?status "
            "!home_1 ?status +9000 ?status ?pos +1000 ?status !pos_9999 +500 ?status +500 ?status "
            "!pos_0 +500 ?status", "/status_5 /status_4 status_5 /status_0 pos_0 /status_2 "
            "/status_3 /status_10 /status_10 ");
        c.faults.dropEvery = 3;
        c.faults.crlf = true;
        c.faults.okEvery = 1;
        c.faults.commentEvery = 2;
        c.faults.garbageEvery = 2;
        row("drop, CR LF, ok, comment, garbage", "?sn ?sn ?sn",
            "sn_1234\r ok\r [\\x80-\\xff].*\r # t=0\r sn_1234\r ok\r ok\r ");
        c.faults.latencyMs = 50;
        c.faults.splitBytes = 4;
        c.faults.hangUpAtMs = 280;  // the reply then under way is lost
        row("delay, split, hang-up", "?sn +49 +1 ?type +10 +200 ?sn +100", "//sn_1/234 /type_0 /");
        c.faults.splitBytes = 4;  // 10 ms apart; the second reply waits for the first's pieces
        row("pieces queue behind pieces", "?sn ?type +10 +10", "sn_1/234 type/_0 ");
        c.refPos = 500;
        row("go to reference", "!gotoRef_1 +1000 ?pos", "/pos_500 ");
        row("linear stage refuses a run", "!run_1 +100 ?status ?run", "/status_6 run_0 ");
        c.type = 2;
        row("lifting stage refuses a run", "!run_-1 +100 ?status ?run", "/status_6 run_0 ");
    }
    void model()
    {
        QFETCH(StageConfig, config);
        QFETCH(QByteArray, script);
        QFETCH(QRegularExpression, output);
        StageModel_c m(config);
        QByteArray out;
        for (const QByteArray &line : script.split(' ')) {
            if (line.startsWith('+'))
                m.Advance(line.mid(1).toLongLong());
            out += line.startsWith('+') ? "/" + m.TakeDue() : m.Feed(line + "\n");
        }
        const QString got = QString::fromLatin1(out.replace('\n', ' '));
        QVERIFY2(output.match(got).hasMatch(),
                 qPrintable("got \"" + got + "\" for " + output.pattern()));
    }
    // Wakes only for what is due: armed while a move, a dwell or a delayed reply is ahead, and
    // stopped once it is over; the state after it shows the wake came (or was not needed).
    void quietWhenIdle_data()
    {
        QTest::addColumn<StageConfig>("config");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("armed");
        QTest::addColumn<bool>("movingAfter");
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("replies");
        StageConfig c;
        QTest::newRow("power-up: nothing ahead") << c << QByteArray() << false << false
                                                 << QByteArray("?pos\n") << QByteArray("pos_0\n");
        QTest::newRow("a move: armed for its end") << c << QByteArray("!pos_5000\n") << true << false
            << QByteArray("?pos\n?status\n") << QByteArray("pos_5000\nstatus_4\n");
        c.position = 3000;
        QTest::newRow("homing: its move, then its dwell") << c << QByteArray("!home_1\n") << true
            << false << QByteArray("?status\n") << QByteArray("status_0\n");
        c = StageConfig();
        c.faults.latencyMs = 800;
        c.faults.splitBytes = 3;
        QTest::newRow("delayed reply in pieces") << c << QByteArray("?sn\n") << true << false
            << QByteArray("?fw\n") << QByteArray("sn_1234\nfw_123\n");
        c = StageConfig();
        c.type = 1;
        QTest::newRow("a continuous run reads from the clock") << c << QByteArray("!run_1\n")
            << false << true << QByteArray("?run\n") << QByteArray("run_1\n");
    }
    void quietWhenIdle()
    {
        QFETCH(StageConfig, config);
        QFETCH(QByteArray, sent);
        QFETCH(bool, armed);
        QFETCH(bool, movingAfter);
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, replies);
        PtyMaster pty;
        if (!pty.Open())
            QSKIP("no pseudo-terminal available");
        StageSimulator_c sim(&pty, config);
        QSerialPort port(pty.SlavePath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write(sent);
        QTRY_COMPARE_WITH_TIMEOUT(sim.History().size(), sent.count('\n'), kWait);
        QCOMPARE(sim.TimerActive(), armed);
        QTRY_VERIFY_WITH_TIMEOUT(!sim.TimerActive(), kWait);
        QCOMPARE(sim.Model().IsMoving(), movingAfter);
        QVERIFY(!sim.Model().HasPendingOutput());
        port.write(query);
        QTRY_COMPARE_WITH_TIMEOUT(port.peek(256), replies, kWait);
    }
    // The options set what the controller reports; its link leads to the port it names first
    // and is gone when it ends; --verbose shows the lines; a bad value ends it with 2.
    void program()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("stage");
        QProcess sim;
        sim.start(STAGE_SIM_PROGRAM, QString("--type 1 --sn 77 --fw 1.5 --position 250 --ref-pos "
            "-3 --status 6 --speed 900 --accel 800 --decel 700 --hold-torque 40 --crlf --verbose "
            "--link").split(' ') << link);
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), kWait);  // the first line names the port
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromLocal8Bit(sim.readLine()).trimmed());
        QSerialPort port(link);
        QVERIFY(port.open(QIODevice::ReadWrite));
        const QString keys = "type sn fw pos refPos status speed accel decel holdTorque";
        port.write(("?" + QString(keys).replace(' ', "\n?") + "\n").toLatin1());
        QTRY_COMPARE_WITH_TIMEOUT(QString(port.peek(512)).split("\r\n"), QString("type_1 sn_77 "
            "fw_150 pos_250 refPos_-3 status_6 speed_900 accel_800 decel_700 holdTorque_40 ")
            .split(' '), kWait);
        QTRY_VERIFY(QString(sim.peek(4096)).contains("<< ?type\n<< ?sn\n"));
        QVERIFY(QString(sim.peek(4096)).contains(">> type_1\\r\\nsn_77\\r\\n"));
        sim.terminate();
        QVERIFY(sim.waitForFinished(kWait) && sim.exitCode() == 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        sim.start(STAGE_SIM_PROGRAM, {"--type", "x"});
        QVERIFY(sim.waitForFinished(kWait));
        QCOMPARE(sim.exitCode(), 2);
    }
    // A hang-up: disconnected without an error storm, then reconnected. Otherwise a
    // move shows: once the stage is there, two polls later at most (replies dropped: nothing).
    void faults_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("hang-up while polling") << int(HangUp);
        QTest::newRow("4000 bytes without a line feed") << int(Flood);
        QTest::newRow("garbage between replies") << int(Garbage);
        QTest::newRow("replies never come") << int(Silent);
    }
    void faults()
    {
        QFETCH(int, fault);
        StageConfig config;
        config.faults.garbageEvery = fault == Garbage;
        config.faults.dropEvery = fault == Silent;
        PtyMaster pty;
        if (!pty.Open())
            QSKIP("no pseudo-terminal available");
        StageSimulator_c sim(&pty, config);
        // Started as an operator starts it against the simulator; the window finds the port.
        PanelSession_c session(ParseCommandLine({"movexa", "--controller-port", pty.SlavePath()}));
        MainWindowProbe p(&session.Window());
        const auto polls = [&sim] { return sim.LinesStartingWith("?status").size(); };
        // The bulk query's, then two polls. Once none came, the later rows fail at once.
        static bool pollsCame = true;
        QVERIFY2(pollsCame, "an earlier row saw no poll reach the controller");
        pollsCame = QTest::qWaitFor([&] { return polls() >= 3; }, kWait);
        QVERIFY2(pollsCame, "no poll reached the controller");
        if (fault == Flood)  // the regression: replies after it came a dozen lines late
            pty.Write(QByteArray(4000, 'x'));  // the reply that follows goes down with it
        QSignalSpy errors(p.serial()->Port(), &QSerialPort::errorOccurred);  // a storm: hundreds
        if (fault == HangUp) {
            QTest::ignoreMessage(QtDebugMsg, "Cable disconnected.");
            sim.HangUp();
        }
        QTRY_VERIFY_WITH_TIMEOUT(p.serial()->IsOpen() != (fault == HangUp)
                                     && p.ui()->connected_cBox->isChecked() != (fault == HangUp),
                                 kWait);
        QVERIFY2(errors.size() <= 4, qPrintable(QString::number(errors.size()) + " errors"));
        if (fault == HangUp) {
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
        const QString shown = fault == Silent ? "Absolute position: 0" : "Absolute position: 1.5";
        const int at = polls();
        QTRY_VERIFY_WITH_TIMEOUT(polls() > at + 2 || (fault != Silent && label->text() == shown),
                                 kWait);
        QCOMPARE(label->text(), shown);
    }
};

QTEST_MAIN(TestStageSim)
#include "test_stagesim.moc"
