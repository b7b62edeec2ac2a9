// The virtual controller over real pseudo-terminals: the adaptor in process,
// and the movexa-stage-sim program, each talked to through QSerialPort.

#include "sim/ptymaster.h"
#include "sim/stagesimulator.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(StageFaults)

namespace {

// Collects what the port reads and whether it saw the line go dead. A hung-up
// pseudo-terminal reads end-of-file, which Qt reports as a read error (with
// whatever errno was left over) on every notification: close at the first.
struct Reader
{
    explicit Reader(QSerialPort &port)
    {
        QObject::connect(&port, &QSerialPort::readyRead, [this, &port] { bytes += port.readAll(); });
        QObject::connect(&port, &QSerialPort::errorOccurred,
                         [this, &port](QSerialPort::SerialPortError e) {
                             if (port.isOpen()
                                 && (e == QSerialPort::ResourceError || e == QSerialPort::ReadError)) {
                                 lost = true;
                                 port.close();
                             }
                         });
    }
    QByteArray bytes;
    bool lost = false;
};

}  // namespace

class TestStageSimPty : public QObject
{
    Q_OBJECT
private slots:
    void adaptorAnswers_data();
    void adaptorAnswers();
    void adaptorHangsUpOnTime();
    void programServesAPseudoTerminal();
    void programOptions();
};

void TestStageSimPty::adaptorAnswers_data()
{
    QTest::addColumn<StageFaults>("faults");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("minDelayMs");
    QTest::addColumn<int>("minWrites");
    StageFaults f;
    QTest::newRow("plain") << f << QByteArray("type_1\nsn_1234\n") << 0 << 1;
    f.latencyMs = 150;
    QTest::newRow("latency") << f << QByteArray("type_1\nsn_1234\n") << 150 << 1;
    f = {};
    f.splitBytes = 5;
    f.crlf = true;
    QTest::newRow("split, CR LF") << f << QByteArray("type_1\r\nsn_1234\r\n") << 0 << 4;
}

void TestStageSimPty::adaptorAnswers()
{
    QFETCH(StageFaults, faults);
    QFETCH(QByteArray, reply);
    QFETCH(int, minDelayMs);
    QFETCH(int, minWrites);
    PtyMaster pty;
    if (!pty.Open())
        QSKIP("no pseudo-terminal available");
    StageConfig config;
    config.type = 1;
    config.faults = faults;
    StageSimulator_c sim(&pty, config);
    QSignalSpy writes(&sim, &StageSimulator_c::BytesSent);
    QSerialPort port(pty.SlavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    Reader reader(port);
    QElapsedTimer sent;
    sent.start();
    port.write("?type\n?sn\n");
    QTRY_COMPARE_WITH_TIMEOUT(reader.bytes, reply, 10000);
    QVERIFY(sent.elapsed() >= minDelayMs);
    QVERIFY(writes.count() >= minWrites);
    QCOMPARE(sim.History(), (QList<QByteArray>{"?type", "?sn"}));
}

void TestStageSimPty::adaptorHangsUpOnTime()
{
    PtyMaster pty;
    if (!pty.Open())
        QSKIP("no pseudo-terminal available");
    QElapsedTimer since;
    since.start();
    StageConfig config;
    config.faults.hangUpAtMs = 600;
    StageSimulator_c sim(&pty, config);
    QSignalSpy hungUp(&sim, &StageSimulator_c::HungUp);
    QSerialPort port(pty.SlavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    Reader reader(port);
    port.write("?status\n");
    QTRY_COMPARE_WITH_TIMEOUT(reader.bytes, QByteArray("status_4\n"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(reader.lost, 10000);
    QVERIFY(since.elapsed() >= 600);
    QCOMPARE(hungUp.count(), 1);
    QVERIFY(!pty.IsOpen());
}

void TestStageSimPty::programServesAPseudoTerminal()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("stage");
    QProcess sim;
    sim.start(STAGE_SIM_PROGRAM, {"--type", "1", "--sn", "77", "--fw", "2.5", "--link", link,
                                  "--hang-up-after", "1500", "--verbose"});
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY2(path.startsWith("/dev/"), qPrintable(path));
    QCOMPARE(QFileInfo(link).symLinkTarget(), path);

    QSerialPort port(link);
    QVERIFY(port.open(QIODevice::ReadWrite));
    Reader reader(port);
    port.write("?type\n?sn\n?fw\n");
    QTRY_COMPARE_WITH_TIMEOUT(reader.bytes, QByteArray("type_1\nsn_77\nfw_250\n"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(reader.lost, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(sim.state(), QProcess::NotRunning, 10000);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());  // the program cleans up its link
    const QByteArray log = sim.readAll();
    QVERIFY(log.contains("<< ?fw\n"));
    QVERIFY(log.contains(">> type_1\\nsn_77\\nfw_250\\n\n"));
    QVERIFY(log.endsWith("hung up\n"));
}

void TestStageSimPty::programOptions()
{
    QProcess help;
    help.start(STAGE_SIM_PROGRAM, {"--help"});
    QVERIFY(help.waitForFinished(10000));
    const QByteArray text = help.readAllStandardOutput();
    for (const char *option :
         {"--link", "--device", "--verbose", "--type", "--sn", "--fw", "--position", "--status",
          "--error-after", "--hardware-error-after", "--drop-every", "--drop-probability",
          "--seed", "--split", "--crlf", "--ok-every", "--comment-every", "--garbage-every",
          "--latency", "--hang-up-after", "--replug-after"})
        QVERIFY2(text.contains(option), option);

    QProcess bad;
    bad.start(STAGE_SIM_PROGRAM, {"--type", "one"});
    QVERIFY(bad.waitForFinished(10000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("--type"));
}

QTEST_GUILESS_MAIN(TestStageSimPty)
#include "test_stagesim_pty.moc"
