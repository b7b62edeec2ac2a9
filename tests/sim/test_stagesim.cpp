// The virtual stage controller: its model on a driven clock, its program on a
// pseudo-terminal, and the real window against it, end to end and under faults.

#include "app/stagemath.h"
#include "sim/stagesimulator.h"
#include "support/testsupport.h"

#include <QProcess>
#include <QtTest>
#include <QtWidgets>

Q_DECLARE_METATYPE(StageConfig)

namespace {

constexpr int kWait = 15000;  // generous: the suite must pass on a loaded machine
const QByteArray kBulkQuery = "?" + StageModel_c::Keys().join(" ?");
QStringList debugLines;
QtMessageHandler defaultHandler = nullptr;

void Record(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    debugLines << message;
    defaultHandler(type, context, message);
}

// A controller, a port list that shows it, and the window that finds it.
struct Session
{
    Session(const StageConfig &c) : opened(pty.Open()), sim(&pty, c), ports({PtyPortEntry(pty)}) {}
    QList<QByteArray> Lines(const char *prefix) const { return sim.LinesStartingWith(prefix); }
    int Polls() const { return Lines("?status").size(); }
    PtyMaster pty;
    bool opened;
    StageSimulator_c sim;
    ScopedPortList ports;
    std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>();
    MainWindowProbe probe{window.get()};
    MainWindowUi *ui = probe.ui();
};
#define START_SESSION(s, c) Session s(c); if (!s.opened) QSKIP("no pseudo-terminal available")

qint64 Shown(MainWindowUi *ui)  // the position read-out, in controller units
{
    return std::llround(ui->AbsolutePos_Label->text().section(": ", 1).toDouble() * 1000);
}

// Once the stage is at pos, two polls later the read-out must show it (or,
// with no replies, what it showed).
void ExpectArrival(const Session &s, qint64 pos, qint64 shown)
{
    QTRY_COMPARE_WITH_TIMEOUT(s.sim.Model().Value("pos"), pos, kWait);
    const int at = s.Polls();
    QTRY_VERIFY_WITH_TIMEOUT(s.Polls() >= at + 3 || (shown == pos && Shown(s.ui) == pos), kWait);
    QCOMPARE(Shown(s.ui), shown);
}

enum Fault { HangUp, HangUpEarly, HangUpInLoop, Flood, LineFaults };

}  // namespace

class TestStageSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { defaultHandler = qInstallMessageHandler(Record); }
    void model_data();
    void model();
    void program();
    void operatorSession();
    void faultsLeaveThePanelUsable_data();
    void faultsLeaveThePanelUsable();
};

// Each line of a script is fed to the model, except "+ms", which moves its
// clock on and shows as "/" in the output, followed by whatever fell due.
void TestStageSim::model_data()
{
    QTest::addColumn<StageConfig>("config");
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("output");  // a pattern
    StageConfig c;
    const auto row = [&c](const char *tag, const QString &script, const QString &output) {
        QTest::newRow(tag) << c << script.toLatin1() << output;
        c = StageConfig();
    };
    // A move ends when the loop sequencer's estimate says, give or take 10 ms.
    const double ms = 1000 * TravelTimeSeconds(10000, 10000, 10000, 1000);
    row("10 mm at 1 mm/s, 10 mm/s^2",
        QString::asprintf("speed_1000\naccel_10000\ndecel_10000\n!pos_10000\n+%.0f\n?status\n"
                          "+20\n?status\n?pos", ms - 10), "/status_5\n/status_4\npos_10000\n");
    c.type = 1;
    row("homing, homed", "!pos_5000\n+9000\n!home_1\n?status\n+9000\n?status\n?pos",
        "/status_5\n/status_0\npos_0\n");
    c.type = 1;
    row("run_0 brakes", "!run_-1\n+1000\n!run_0\n?status\n+1000\n?status",
        "/status_5\n/status_4\n");
    c.faults.dropEvery = 3;
    c.faults.crlf = true;
    c.faults.okEvery = 1;
    c.faults.commentEvery = 2;
    row("drop, CR LF, ok, comment", "?sn\n?sn\n?sn",
        "sn_1234\r\nok\r\n# t=0\r\nsn_1234\r\nok\r\nok\r\n");
    c.faults.garbageEvery = 2;
    row("garbage", "?sn\n?sn", "sn_1234\n[\\x80-\\xff][^\\n]*\nsn_1234\n");
    c.faults.latencyMs = 50;
    c.faults.splitBytes = 4;
    row("latency, split", "?sn\n+49\n+1\n?type\n+10\n+200", "//sn_1/234\n/type_0\n");
    c.faults.errorAtMs = 1000;
    c.faults.hardwareErrorAtMs = 2000;  // and the motor stops
    row("error bits", "!pos_9999\n+999\n?status\n+1\n?status\n+1000\n?status\n!pos_0\n+500\n"
        "?status", "/status_5\n/status_7\n/status_14\n/status_14\n");
    c.faults.latencyMs = 100;
    c.faults.hangUpAtMs = 1000;
    row("hang-up", "?sn\n+950\n?sn\n+1000\n?sn\n+100", "/sn_1234\n//");
}

void TestStageSim::model()
{
    QFETCH(StageConfig, config);
    QFETCH(QByteArray, script);
    QFETCH(QString, output);
    StageModel_c m(config);
    QString out;
    for (const QByteArray &line : script.split('\n')) {
        if (line.startsWith('+'))
            m.Advance(line.mid(1).toLongLong());
        out += QString::fromLatin1(line.startsWith('+') ? "/" + m.TakeDue() : m.Feed(line + "\n"));
    }
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(output)).match(out).hasMatch(),
             qPrintable(out.toUtf8().toPercentEncoding("/_ ")));
}

void TestStageSim::program()
{
    QProcess sim;
    sim.start(STAGE_SIM_PROGRAM, {"--help"});
    QVERIFY(sim.waitForFinished(kWait));
    const QByteArray help = sim.readAllStandardOutput();
    for (const char *option : {"--link", "--type", "--drop-every", "--hang-up-after"})
        QVERIFY2(help.contains(option), option);
    sim.start(STAGE_SIM_PROGRAM, {"--type", "1", "--sn", "77"});
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), kWait);  // the first line names the port
    QSerialPort port(QString::fromLocal8Bit(sim.readLine()).trimmed());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QByteArray replies;
    connect(&port, &QSerialPort::readyRead, this, [&] { replies += port.readAll(); });
    port.write("?type\n?sn\n");
    QTRY_COMPARE_WITH_TIMEOUT(replies, QByteArray("type_1\nsn_77\n"), kWait);
    sim.terminate();
    QVERIFY(sim.waitForFinished(kWait) && sim.exitCode() == 0);
}

void TestStageSim::operatorSession()
{
    // Rotation stage 4711, firmware 1.23, at 1, reference at 0.5, not homed,
    // speed 3 (above the maximum), acceleration 12, deceleration 11, torque 35.
    START_SESSION(s, (StageConfig{1, 4711, 123, 1000, 500, 4, 3000, 12000, 11000, 35, -1000000,
                                  1000000, 300, StageFaults()}));
    MainWindowUi *ui = s.ui;
    const auto readOuts = [&] {
        QStringList r{ui->typeLabel->text(), s.probe.unitText(), ui->snLabel->text(),
                      ui->posLineEdit->text(), ui->RefLabel->text(),
                      ui->RunButton->isEnabled() ? "Run" : ""};
        for (QSlider *bar : {ui->SpeedSlider, ui->AccelSlider, ui->DecelSlider, ui->TrqSlider})
            r << QString("%1/%2").arg(bar->value()).arg(bar->maximum());
        return r.join('|');
    };
    QTRY_COMPARE_WITH_TIMEOUT(s.sim.History().mid(0, 12).join(' '), kBulkQuery, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(readOuts(), "Type: Rotation|rad|SN: 4711|1|Current value: 0.5|Run|"
                                          "2500/2500|12000/13000|11000/13000|35/75", kWait);
    QTRY_COMPARE_WITH_TIMEOUT(ui->statusbar->currentMessage(), QString("Stage not homed.   "),
                              kWait);

    const auto press = [&](QAbstractButton *b, qint64 to) { b->click(); ExpectArrival(s, to, to); };
    press(ui->HomingButton, 0);
    QTRY_COMPARE_WITH_TIMEOUT(ui->statusbar->currentMessage(), QString(), kWait);
    ui->posLineEdit->setText("0.5");
    press(ui->goButton, 500);
    press(ui->rightRightStepButton, 520);
    press(ui->rightStepButton, 521);
    press(ui->leftStepButton, 520);
    press(ui->leftLeftStepButton, 500);
    ui->RefLineEdit->setText("-0.3");
    ui->RefSetButton->click();
    press(ui->GoToRefButton, -300);
    ui->posLineEdit->setText("0");
    press(ui->goButton, 0);
    const char *stations[] = {"0.1", "0.3", "0.2", "0.4"};  // at 1 mm/s, 50 ms waits
    for (int i = 0; i < 4; ++i) {
        const auto find = [&](const char *name) { return QString(name).arg(QChar('A' + i)); };
        s.window->findChild<QLineEdit *>(find("Pos%1LineEdit"))->setText(stations[i]);
        s.window->findChild<QLineEdit *>(find("Vel%1LineEdit"))->setText("1");
        s.window->findChild<QLineEdit *>(find("Time%1LineEdit"))->setText("0.05");
        s.window->findChild<QCheckBox *>(find("use%1_cBox"))->setChecked(true);
    }
    ui->LoopCountSlider->setValue(1);
    press(ui->LoopButton, 400);
    QCOMPARE(ui->LoopButton->text(), QString("Start loop"));
    QCOMPARE(s.Lines("!").join(' '), QByteArray("!home_1 !pos_500 !pos_520 !pos_521 !pos_520 "
                                                "!pos_500 !gotoRef_1 !pos_0 !pos_100 !pos_300 "
                                                "!pos_200 !pos_400"));
    // The controller's own values were loaded muted: only the clamped speed went back.
    QCOMPARE((s.Lines("speed_") + s.Lines("accel_") + s.Lines("decel_") + s.Lines("holdTorque_"))
                 .join(' '), QByteArray("speed_2500 speed_1000 speed_2500"));
}

void TestStageSim::faultsLeaveThePanelUsable_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<StageConfig>("config");
    StageConfig c;
    c.speed = 8000;
    QTest::newRow("hang-up while polling") << int(HangUp) << c;
    QTest::newRow("hang-up before the refresh") << int(HangUpEarly) << c;
    QTest::newRow("hang-up in a loop") << int(HangUpInLoop) << c;
    QTest::newRow("4000 bytes without a line feed") << int(Flood) << c;
    c.faults.garbageEvery = 1;
    c.faults.crlf = true;
    c.faults.splitBytes = 16;
    QTest::newRow("garbage between replies, CR LF, split") << int(LineFaults) << c;
    c.faults = StageFaults();
    c.faults.dropEvery = 1;
    QTest::newRow("replies never come") << int(LineFaults) << c;
}

void TestStageSim::faultsLeaveThePanelUsable()
{
    QFETCH(int, fault);
    QFETCH(StageConfig, config);
    START_SESSION(s, config);
    int portErrors = 0;
    connect(s.probe.serial()->Port(), &QSerialPort::errorOccurred, this, [&] { ++portErrors; });
    const bool hangUp = fault <= HangUpInLoop;
    if (fault != HangUpEarly)  // else the bulk query is out, not its replies nor the refresh
        QTRY_VERIFY_WITH_TIMEOUT(s.Polls() >= 3, kWait);
    debugLines.clear();
    if (fault == HangUpInLoop) {  // station A alone, over and over
        s.ui->useA_cBox->setChecked(true);
        s.ui->LoopCheckBox->setChecked(true);
        s.ui->LoopButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(s.Lines("!pos_").size() >= 2, kWait);
    }
    if (fault == Flood)
        s.pty.Write(QByteArray(4000, 'x'));  // the reply that follows goes down with it
    if (hangUp)
        s.sim.HangUp();
    QTRY_VERIFY_WITH_TIMEOUT(s.probe.serial()->IsOpen() != hangUp
                                 && s.ui->connected_cBox->isChecked() != hangUp, kWait);
    const QString shown = s.ui->AbsolutePos_Label->text();
    QSignalSpy ticks(s.probe.pollTimer(), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, kWait);  // the event loop goes on serving
    QCOMPARE(s.ui->AbsolutePos_Label->text(), shown);
    const QStringList noise = debugLines.filter(QRegularExpression("^(?!Index)"));  // not stations
    QVERIFY2(noise.count("Cable disconnected.") == hangUp && noise.size() <= 2 && portErrors <= 4,
             qPrintable(noise.join('|') + " " + QString::number(portErrors)));
    if (!s.probe.loopStopped())
        s.ui->LoopButton->click();
    QVERIFY(!s.probe.loopTimer()->isActive());
    if (!hangUp) {
        s.ui->posLineEdit->setText("1.5");
        s.ui->goButton->click();
        ExpectArrival(s, 1500, config.faults.dropEvery ? 0 : 1500);
        return;
    }
    PtyMaster pty;  // the controller is back, on a new port
    QVERIFY(pty.Open());
    StageSimulator_c sim(&pty, StageConfig());
    ScopedPortList ports({PtyPortEntry(pty)});
    s.ui->updatePorts_Button->click();
    s.ui->connected_cBox->click();
    QTRY_COMPARE_WITH_TIMEOUT(sim.History().mid(0, 12).join(' '), kBulkQuery, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(s.ui->connected_cBox->isChecked(), kWait);
    s.window.reset();  // before the new controller goes away
}

QTEST_MAIN(TestStageSim)
#include "test_stagesim.moc"
