// The panel on its built-in virtual stage, set up exactly as main() does it, and the command line.

#include "app/commandline.h"
#include "app/panelsession.h"
#include "app/stagemath.h"
#include "sim/stagesimulator.h"
#include "sim/virtualstage.h"
#include "support/testsupport.h"

#include <QtTest>
#include <QtWidgets>

constexpr int kWait = 5000;  // ample on a loaded machine; a failing wait costs three times this

namespace {
// What the panel will do: run, an action without a window, or fail and why. (What a run is
// set up with, the sessions below and the simulator's fault cases show.)
QString Summary(const CommandLine &c)
{
    switch (c.action) {
    case CommandLine::Action::RunPanel: return "panel";
    case CommandLine::Action::ShowHelp: return "help";
    case CommandLine::Action::ShowVersion: return "version";
    case CommandLine::Action::ListPorts: return "ports";
    case CommandLine::Action::Fail: break;
    }
    return "fail: " + c.error;
}

// A station command as the virtual stage received it, and where the stage stood then.
struct Arrival
{
    QByteArray line;
    qint64 atMs;  // on the stage's clock
    double position;
    bool moving;
};
}  // namespace

class TestVirtualStage : public QObject
{
    Q_OBJECT
private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("result");
        QTest::newRow("Qt's own options pass on to Qt")
            << QStringList{"-platform", "offscreen", "-reverse", "-style=fusion"} << "panel";
        QTest::newRow("version") << QStringList{"-v"} << "version";
        QTest::newRow("help wins over the rest")
            << QStringList{"--virtual-stage", "--help"} << "help";
        QTest::newRow("list ports") << QStringList{"--list-ports"} << "ports";
        QTest::newRow("unknown option") << QStringList{"--virtual"}
                                        << "fail: Unknown option 'virtual'.";
        QTest::newRow("stage type outside the three")
            << QStringList{"--virtual-stage", "--stage-type", "Linear"}
            << "fail: --stage-type wants linear, rotation or lifting, not 'Linear'.";
        QTest::newRow("missing value") << QStringList{"--virtual-stage", "--stage-type"}
                                       << "fail: Missing value after '--stage-type'.";
        QTest::newRow("serial number beyond 32 bits")
            << QStringList{"--virtual-stage", "--serial-number", "2147483648"}
            << "fail: --serial-number wants a whole number from 0 to 2147483647.";
        QTest::newRow("largest serial number")
            << QStringList{"--virtual-stage", "--serial-number", "2147483647"} << "panel";
        QTest::newRow("stage type without the virtual stage")
            << QStringList{"--stage-type", "rotation"}
            << "fail: --stage-type and --serial-number set up the virtual stage; "
               "add --virtual-stage.";
        QTest::newRow("two controllers")
            << QStringList{"--virtual-stage", "--controller-port", "/tmp/stage"}
            << "fail: --virtual-stage and --controller-port both name the controller; give one.";
        QTest::newRow("socket and no socket")
            << QStringList{"--control-socket", "/tmp/s.sock", "--no-remote-control"}
            << "fail: --control-socket and --no-remote-control contradict each other; give one.";
        QTest::newRow("controller port without a path") << QStringList{"--controller-port="}
                                                        << "fail: --controller-port wants a path.";
        QTest::newRow("socket without a path") << QStringList{"--control-socket="}
                                               << "fail: --control-socket wants a path.";
        QTest::newRow("stray argument") << QStringList{"/dev/ttyUSB0"}
                                        << "fail: Unexpected argument '/dev/ttyUSB0'.";
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, result);
        QCOMPARE(Summary(ParseCommandLine(QStringList{"movexa"} + args)), result);
    }

    // --list-ports: the ids as four hexadecimal digits, "-" where the port reports none.
    void portListText()
    {
        const QList<PortEntry> ports{
            {"ttyUSB0", "converter", "maker", "/dev/ttyUSB0", 0x403, 0x6015},
            {"ttyS0", "on board", "", "/dev/ttyS0", 0, 0}};
        QCOMPARE(PortListText(ports).split('\n'), (QStringList{
            "/dev/ttyUSB0  vendor 0403  product 6015  converter (maker)",
            "/dev/ttyS0  vendor -  product -  on board", ""}));
    }

    // A controller port that does not exist: the panel says why and starts unconnected; a
    // refresh lists the system's ports.
    void missingControllerPort()
    {
        PtyMaster attached;
        if (!attached.Open())
            QSKIP("no pseudo-terminal available");
        ScopedPortList system({PtyPortEntry(attached)});
        QTest::ignoreMessage(QtWarningMsg, "movexa: /nonexistent/ttyStage does not exist; "
                                           "starting the panel unconnected.");
        PanelSession_c s(ParseCommandLine(
            {"movexa", "--no-remote-control", "--controller-port", "/nonexistent/ttyStage"}));
        MainWindowProbe p(&s.Window());
        QVERIFY(!p.serial()->IsOpen());
        p.ui()->updatePorts_Button->click();
        QCOMPARE(p.ui()->serialPort_cBox->currentText(), PtyPortEntry(attached).name);
    }

    // A controller port given relative to the working folder is opened, ahead of a controller
    // that is attached as well, and named as the open port, so a refresh selects it again.
    void controllerPort()
    {
        if (!QFileInfo::exists("/dev/ptmx"))
            QSKIP("no pseudo-terminals");
        PtyMaster given, attached;
        QVERIFY2(given.Open(), qPrintable(given.ErrorString()));
        QVERIFY2(attached.Open(), qPrintable(attached.ErrorString()));
        ScopedPortList system({PtyPortEntry(attached)});  // with the controller's product id
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent("/dev/pts"));
        PanelSession_c s(ParseCommandLine({"movexa", "--no-remote-control", "--controller-port",
                                           QFileInfo(given.SlavePath()).fileName()}));
        QDir::setCurrent(before);
        MainWindowProbe p(&s.Window());
        QCOMPARE(p.serial()->IsOpen(), true);
        QCOMPARE(p.serial()->PortName(), PtyPortEntry(given).name);
        p.ui()->updatePorts_Button->click();
        QCOMPARE(p.ui()->serialPort_cBox->currentText(), PtyPortEntry(given).name);
    }

    // The sliders and the serial number are loaded from a controller that answers late.
    void slowController()
    {
        if (!QFileInfo::exists("/dev/ptmx"))
            QSKIP("no pseudo-terminals");
        StageConfig config;
        config.serialNumber = 4711;
        config.speed = 3000;
        config.faults.latencyMs = 200;  // the window loads them 500 ms after connecting
        VirtualStage_c stage(config);
        QVERIFY2(stage.IsRunning(), qPrintable(stage.ErrorString()));
        const QString path = stage.SlavePath();
        ScopedPortList ports({{path.mid(5), "virtual", "", path, 0, 0x6015}});
        MainWindow w;
        MainWindowUi *ui = MainWindowProbe(&w).ui();
        QTRY_COMPARE_WITH_TIMEOUT(ui->snLabel->text(), QString("SN: 4711"), kWait);
        QCOMPARE(ui->SpeedSlider->value(), 3000);
    }

    // Connected, type and number shown, polled five times a second; a two-station
    // loop on the estimate's schedule; Go, the read-out following; closing cleans up.
    void virtualSession()
    {
        if (!QFileInfo::exists("/dev/ptmx"))
            QSKIP("no pseudo-terminals");
        auto s = std::make_unique<PanelSession_c>(ParseCommandLine({"movexa", "--virtual-stage",
            "--no-remote-control", "--stage-type", "lifting", "--serial-number=4711"}));
        QVERIFY2(s->Stage(), "the virtual stage did not start");
        MainWindowProbe p(&s->Window());
        MainWindowUi *ui = p.ui();
        QTRY_VERIFY_WITH_TIMEOUT(ui->connected_cBox->isChecked(), kWait);
        QCOMPARE(s->Window().windowTitle(), QString("Movexa (virtual stage)"));
        QTRY_COMPARE_WITH_TIMEOUT(ui->snLabel->text(), QString("SN: 4711"), kWait);
        QCOMPARE(ui->typeLabel->text(), QString("Type: Lifting"));
        QCOMPARE(p.pollTimer()->interval(), 200);

        // Each station's command reaches the stage when the estimate says, the stage at rest.
        QMutex mutex;
        QList<Arrival> arrivals;
        StageSimulator_c *sim = s->Stage()->Simulator();
        connect(sim, &StageSimulator_c::LineReceived, sim, [&, sim](const QByteArray &line) {
            if (!line.startsWith("!pos_"))
                return;
            const StageModel_c &m = sim->Model();  // on the stage's thread, before the line acts
            QMutexLocker lock(&mutex);
            arrivals << Arrival{line, m.Now(), m.ExactPosition(), m.IsMoving()};
        }, Qt::DirectConnection);
        ui->PosALineEdit->setText("1");  // mm, mm/s, s
        ui->VelALineEdit->setText("2");
        ui->TimeALineEdit->setText("0.2");
        ui->PosBLineEdit->setText("0.5");
        ui->VelBLineEdit->setText("1");
        ui->TimeBLineEdit->setText("0.1");
        ui->useC_cBox->setChecked(false);
        ui->useD_cBox->setChecked(false);
        ui->LoopCountSlider->setValue(1);
        ui->LoopButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(ui->LoopButton->text(), QString("Start loop"), kWait);
        {
            QMutexLocker lock(&mutex);
            QCOMPARE(arrivals.size(), 2);
            QCOMPARE(arrivals[0].line + ' ' + arrivals[1].line, QByteArray("!pos_1000 !pos_500"));
            // The stage's own 20 mm/s^2 both ways, A's 2 mm/s over the 1 mm from 0: 0.6 s.
            const double travel = TravelTimeSeconds(20000, 20000, 1000, 2000);
            const qint64 gap = arrivals[1].atMs - arrivals[0].atMs;
            const int interval = LoopIntervalMs(travel, 200);  // 900 ms
            QVERIFY2(gap >= interval - 2 && gap <= interval + 250,
                     qPrintable(QString("%1 ms apart, scheduled %2 ms").arg(gap).arg(interval)));
            // At rest on A when B came: the move took no longer than estimated, so the stage
            // dwelt there at least the gap minus the estimate, the wait and the margin.
            QCOMPARE(arrivals[1].position, 1000.0);
            QVERIFY(!arrivals[1].moving);
        }

        QList<double> shown;  // the read-out at each poll, on the way from B to 1.5
        connect(p.pollTimer(), &QTimer::timeout, this, [&] {
            shown << ui->AbsolutePos_Label->text().section(' ', 2).toDouble();
        });
        ui->posLineEdit->setText("1.5");
        ui->goButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(ui->AbsolutePos_Label->text(),
                                  QString("Absolute position: 1.5"), kWait);
        const auto onTheWay = [](double x) { return x > 0.5 && x < 1.5; };
        QVERIFY2(std::any_of(shown.begin(), shown.end(), onTheWay), "no position on the way shown");

        const QString path = s->Stage()->SlavePath();
        const qint64 made = NodeMadeNs(path);
        QSignalSpy finished(s->Stage()->Thread(), &QThread::finished);
        s.reset();
        QCOMPARE(finished.count(), 1);
        QVERIFY2(NodeMadeNs(path) != made, qPrintable(path));
    }
};

QTEST_MAIN(TestVirtualStage)
#include "test_virtualstage.moc"
