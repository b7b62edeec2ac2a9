// The virtual controller on its driven clock: motion timing against the
// sequencer's estimate, status bits, queries, set commands and faults.

#include "app/stagemath.h"
#include "sim/stagemodel.h"

#include <QtTest>

Q_DECLARE_METATYPE(StageFaults)

namespace {

constexpr int kTick = 10;  // ms, the adaptor's tick

// Feeds text and returns the immediate reply.
QByteArray Ask(StageModel_c &m, const QByteArray &text)
{
    return m.Feed(text);
}

// Ticks until the stage stops; returns the elapsed time, or -1 after limitMs.
qint64 RunToRest(StageModel_c &m, qint64 limitMs, double *peakSpeed = nullptr)
{
    const qint64 start = m.Now();
    while (m.IsMoving()) {
        if (m.Now() - start > limitMs)
            return -1;
        m.Advance(kTick);
        if (peakSpeed)
            *peakSpeed = std::max(*peakSpeed, std::abs(m.Velocity()));
    }
    return m.Now() - start;
}

}  // namespace

class TestStageModel : public QObject
{
    Q_OBJECT
private slots:
    void moveTakesTheEstimatedTime_data();
    void moveTakesTheEstimatedTime();
    void motionAndStatusBits();
    void queriesAndSetCommands_data();
    void queriesAndSetCommands();
    void replyFaults_data();
    void replyFaults();
    void randomFaultsAreSeeded();
    void latencyAndSplitFollowTheClock();
    void timedFaultsAndHangUp();
};

void TestStageModel::moveTakesTheEstimatedTime_data()
{
    QTest::addColumn<int>("distance");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("accel");
    QTest::addColumn<int>("decel");
    QTest::newRow("10 mm at 1 mm/s") << 10000 << 1000 << 10000 << 10000;
    QTest::newRow("speed never reached") << 100 << 5000 << 10000 << 10000;
    QTest::newRow("backwards, soft stop") << -7000 << 2000 << 20000 << 5000;
    QTest::newRow("slow start") << 30000 << 8000 << 5000 << 40000;
}

void TestStageModel::moveTakesTheEstimatedTime()
{
    QFETCH(int, distance);
    QFETCH(int, speed);
    QFETCH(int, accel);
    QFETCH(int, decel);
    StageModel_c m;
    Ask(m, "speed_" + QByteArray::number(speed) + "\naccel_" + QByteArray::number(accel)
            + "\ndecel_" + QByteArray::number(decel) + "\n!pos_" + QByteArray::number(distance)
            + "\n");
    QCOMPARE(m.Status() & 1, 1);
    double peak = 0.0;
    const qint64 took = RunToRest(m, 60000, &peak);
    const double estimate
        = TravelTimeSeconds(accel, decel, std::llabs(distance), static_cast<double>(speed)) * 1000.0;
    QVERIFY2(std::abs(took - estimate) <= kTick,
             qPrintable(QString("took %1 ms, estimate %2 ms").arg(took).arg(estimate)));
    QVERIFY(peak <= speed + 1e-6);
    QCOMPARE(m.Value("pos"), qint64(distance));
    QCOMPARE(m.Status(), 4);
}

void TestStageModel::motionAndStatusBits()
{
    StageConfig c;
    c.type = 1;
    c.position = 5000;
    StageModel_c m(c);
    QCOMPARE(Ask(m, "?status\n"), QByteArray("status_4\n"));

    // Homing travels to 0, settles, and only then reports homed.
    Ask(m, "!home_1\n");
    QCOMPARE(m.Status(), 5);
    QCOMPARE(m.Value("home"), qint64(1));
    const qint64 homing = RunToRest(m, 10000);
    QVERIFY(homing >= c.homeSettleMs);
    QCOMPARE(Ask(m, "?status\n?pos\n?home\n"), QByteArray("status_0\npos_0\nhome_0\n"));

    // Continuous run, then a stop that decelerates.
    Ask(m, "!run_-1\n");
    m.Advance(1000);
    QCOMPARE(m.Value("run"), qint64(-1));
    QVERIFY(m.Value("pos") < -1000);
    Ask(m, "!run_0\n");
    QCOMPARE(m.Status(), 1);  // still braking
    QVERIFY(RunToRest(m, 1000) > 0);
    QCOMPARE(m.Status(), 0);
    QCOMPARE(m.Value("run"), qint64(0));

    // A lower speed limit acts on the move under way.
    Ask(m, "!pos_20000\n");
    m.Advance(2000);
    Ask(m, "speed_500\n");
    m.Advance(200);
    QVERIFY(std::abs(m.Velocity()) <= 500.0 + 1e-6);
    RunToRest(m, 60000);
    QCOMPARE(m.Value("pos"), qint64(20000));

    // Linear stages refuse continuous running and targets beyond their travel.
    StageModel_c linear;
    Ask(linear, "!run_1\n");
    QCOMPARE(linear.Status(), 2 | 4);
    Ask(linear, "!pos_300\n");
    QCOMPARE(linear.Status(), 1 | 4);  // an accepted command clears the error
    Ask(linear, "!pos_2000000\n");
    QCOMPARE(linear.Status() & 2, 2);
    Ask(linear, "refPos_-400\n!gotoRef_1\n");
    RunToRest(linear, 10000);
    QCOMPARE(linear.Value("pos"), qint64(-400));
    QCOMPARE(linear.Status(), 4);
}

void TestStageModel::queriesAndSetCommands_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("reply");
    QByteArray all;
    for (const QByteArray &key : StageModel_c::Keys())
        all += "?" + key + "\n";
    QTest::newRow("all twelve") << all
                                << QByteArray("pos_12345\nrefPos_0\nstatus_4\nhome_0\nrun_0\ntype_2\n"
                                              "sn_4711\nfw_205\nspeed_2000\naccel_20000\n"
                                              "decel_20000\nholdTorque_30\n");
    QTest::newRow("speed") << QByteArray("speed_1500\n?speed\n") << QByteArray("speed_1500\n");
    QTest::newRow("accel") << QByteArray("accel_12000\n?accel\n") << QByteArray("accel_12000\n");
    QTest::newRow("decel") << QByteArray("decel_7000\n?decel\n") << QByteArray("decel_7000\n");
    QTest::newRow("torque") << QByteArray("holdTorque_35\n?holdTorque\n") << QByteArray("holdTorque_35\n");
    QTest::newRow("reference") << QByteArray("refPos_-1500\n?refPos\n") << QByteArray("refPos_-1500\n");
    QTest::newRow("CR and blanks") << QByteArray(" ?sn \r\n") << QByteArray("sn_4711\n");
    QTest::newRow("unreadable value") << QByteArray("speed_abc\nspeed_nan\n?speed\n")
                                      << QByteArray("speed_2000\n");
    QTest::newRow("zero speed") << QByteArray("speed_0\n?speed\n") << QByteArray("speed_1\n");
    QTest::newRow("unknown key") << QByteArray("?bogus\nbogus_1\n!bogus_1\n") << QByteArray();
    QTest::newRow("overlong line") << QByteArray(300, 'x') + "?sn\n?type\n" << QByteArray("type_2\n");
}

void TestStageModel::queriesAndSetCommands()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, reply);
    StageConfig c;
    c.type = 2;
    c.serialNumber = 4711;
    c.firmware = 205;
    c.position = 12345;
    StageModel_c m(c);
    QByteArray out;
    for (const char ch : input)  // a byte at a time: lines must survive any split
        out += m.Feed(QByteArray(1, ch));
    QCOMPARE(out, reply);
}

void TestStageModel::replyFaults_data()
{
    QTest::addColumn<StageFaults>("faults");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("reply");
    StageFaults f;
    f.dropEvery = 3;
    QTest::newRow("drop every 3rd") << f << QByteArray("?sn\n?type\n?fw\n?sn\n?type\n?fw\n")
                                    << QByteArray("sn_1234\ntype_0\nsn_1234\ntype_0\n");
    f = {};
    f.crlf = true;
    QTest::newRow("CR LF") << f << QByteArray("?sn\n") << QByteArray("sn_1234\r\n");
    f = {};
    f.okEvery = 1;
    QTest::newRow("ok lines") << f << QByteArray("?sn\nspeed_100\n") << QByteArray("sn_1234\nok\nok\n");
    f = {};
    f.commentEvery = 2;
    QTest::newRow("comments") << f << QByteArray("?sn\n?sn\n") << QByteArray("sn_1234\n# t=0\nsn_1234\n");
}

void TestStageModel::replyFaults()
{
    QFETCH(StageFaults, faults);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, reply);
    StageConfig c;
    c.faults = faults;
    StageModel_c m(c);
    QCOMPARE(m.Feed(input), reply);
}

void TestStageModel::randomFaultsAreSeeded()
{
    StageConfig c;
    c.faults.dropProbability = 0.5;
    c.faults.garbageEvery = 2;
    c.faults.seed = 7;
    const QByteArray queries = QByteArray("?sn\n").repeated(200);
    StageModel_c a(c), b(c);
    const QByteArray out = a.Feed(queries);
    QCOMPARE(b.Feed(queries), out);
    const QList<QByteArray> lines = out.split('\n');
    const int answered = lines.count("sn_1234");
    QVERIFY2(answered > 60 && answered < 140, qPrintable(QString::number(answered)));
    for (const QByteArray &line : lines) {
        // Garbage never passes for a reply: its first byte is not ASCII.
        if (!line.isEmpty() && line != "sn_1234")
            QVERIFY(static_cast<unsigned char>(line.at(0)) >= 0x80);
    }
    QVERIFY(lines.size() - 1 > answered);  // some garbage was sent
}

void TestStageModel::latencyAndSplitFollowTheClock()
{
    StageConfig c;
    c.faults.latencyMs = 50;
    c.faults.splitBytes = 4;
    c.faults.splitGapMs = 10;
    StageModel_c m(c);
    QCOMPARE(m.Feed("?sn\n"), QByteArray());
    m.Advance(49);
    QCOMPARE(m.TakeDue(), QByteArray());
    m.Advance(1);
    QCOMPARE(m.TakeDue(), QByteArray("sn_1"));
    QCOMPARE(m.Feed("?type\n"), QByteArray());  // never overtakes waiting output
    m.Advance(10);
    QCOMPARE(m.TakeDue(), QByteArray("234\n"));
    m.Advance(200);
    QCOMPARE(m.TakeDue(), QByteArray("type_0\n"));
}

void TestStageModel::timedFaultsAndHangUp()
{
    StageConfig c;
    c.faults.errorAtMs = 1000;
    c.faults.hardwareErrorAtMs = 2000;
    c.faults.hangUpAtMs = 3000;
    c.faults.latencyMs = 100;
    StageModel_c m(c);
    m.Feed("!pos_100000\n");
    m.Advance(999);
    QCOMPARE(m.Status(), 1 | 4);
    m.Advance(1);
    QCOMPARE(m.Status(), 1 | 2 | 4);
    m.Advance(1000);
    QCOMPARE(m.Status(), 2 | 4 | 8);  // the drive fault stopped the motor
    const qint64 stoppedAt = m.Value("pos");
    QVERIFY(stoppedAt > 0 && stoppedAt < 100000);
    m.Feed("!pos_0\n!home_1\n?pos\n");
    m.Advance(500);
    QCOMPARE(m.Value("pos"), stoppedAt);
    QCOMPARE(m.TakeDue(), "pos_" + QByteArray::number(stoppedAt) + "\n");
    m.Advance(450);
    m.Feed("?pos\n");  // due at 3050, but the line dies at 3000
    m.Advance(49);
    QVERIFY(!m.IsHungUp());
    m.Advance(1);
    QVERIFY(m.IsHungUp());
    QCOMPARE(m.Feed("?pos\n"), QByteArray());
    m.Advance(1000);
    QCOMPARE(m.TakeDue(), QByteArray());
}

QTEST_GUILESS_MAIN(TestStageModel)
#include "test_stagemodel.moc"
