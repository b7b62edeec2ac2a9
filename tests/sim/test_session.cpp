// The real window against the virtual controller on a pseudo-terminal: what
// an operator's session does end to end, from discovery to a pulled cable.

#include "sim/stagesimulator.h"
#include "support/testsupport.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>
#include <sys/resource.h>

Q_DECLARE_METATYPE(StageFaults)

namespace {

constexpr int kWait = 15000;  // generous: the suite must pass on a loaded machine

// A controller, a port list that shows it, and the window that finds it.
struct Session
{
    PtyMaster pty;
    std::unique_ptr<StageSimulator_c> sim;
    std::unique_ptr<ScopedPortList> ports;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;

    bool Start(const StageConfig &config)
    {
        if (!pty.Open())
            return false;
        sim.reset(new StageSimulator_c(&pty, config));
        ports.reset(new ScopedPortList({PtyPortEntry(pty)}));
        window.reset(new MainWindow);
        probe.reset(new MainWindowProbe(window.get()));
        return true;
    }
    MainWindowUi *ui() const { return probe->ui(); }
    StageModel_c &model() const { return sim->Model(); }
    QList<QByteArray> Lines(const QByteArray &prefix) const { return sim->LinesStartingWith(prefix); }
};

#define START_SESSION(s, config)                     \
    Session s;                                       \
    if (!s.Start(config))                            \
        QSKIP("no pseudo-terminal available");

QList<QByteArray> BulkQuery()
{
    QList<QByteArray> q;
    for (const QByteArray &key : StageModel_c::Keys())
        q.append("?" + key);
    return q;
}

// The position shown in AbsolutePos_Label, in controller units.
qint64 ShownPosition(MainWindowUi *ui)
{
    const QString text = ui->AbsolutePos_Label->text().section(": ", 1);
    return std::llround(text.toDouble() * 1000.0);
}

// Checks at every poll that the position read-out is no older than the
// replies of the last two polls. A poll redraws before it queries, so when
// its "?status" reaches the controller the read-out is what that poll drew.
struct ReadoutWatch
{
    explicit ReadoutWatch(const Session &s)
    {
        QObject::connect(s.sim.get(), &StageSimulator_c::BytesSent, [this](const QByteArray &bytes) {
            for (const QByteArray &line : bytes.split('\n'))
                if (line.startsWith("pos_"))
                    replies.append(line.mid(4).toLongLong());
        });
        MainWindowUi *ui = s.ui();
        QObject::connect(s.sim.get(), &StageSimulator_c::LineReceived, [this, ui](const QByteArray &line) {
            if (line != "?status" || replies.isEmpty())
                return;
            const qint64 shown = ShownPosition(ui);
            const bool recent = shown == replies.last()
                || (replies.size() > 1 && shown == replies.at(replies.size() - 2));
            started = started || recent;
            if (!started)
                return;  // the first redraw may come before the first reply
            ++polls;
            if (!recent)
                lagging.append(shown);
        });
    }
    QList<qint64> replies;
    QList<qint64> lagging;
    int polls = 0;
    bool started = false;
};

// Counts the debug lines written while it lives.
struct DebugLog
{
    DebugLog()
    {
        lines.clear();
        previous = qInstallMessageHandler(Handler);
    }
    ~DebugLog() { qInstallMessageHandler(previous); }
    static void Handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
    {
        lines.append(msg);
        previous(type, context, msg);
    }
    static int Count(const QString &text) { return lines.filter(text).size(); }
    static inline QStringList lines;
    static inline QtMessageHandler previous = nullptr;
};

double CpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void identifiesTheStage_data();
    void identifiesTheStage();
    void homingMovesAndReference();
    void fourStationLoop();
    void cablePulledAndBack();
};

void TestSession::identifiesTheStage_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("speed");
    QTest::addColumn<StageFaults>("faults");
    QTest::addColumn<QString>("typeText");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("maxSpeed");
    QTest::addColumn<int>("maxAccel");
    QTest::addColumn<int>("speedAfter");
    StageFaults clean;
    QTest::newRow("linear") << 0 << 2000 << clean << "Type: Linear"
                            << "mm" << 8000 << 40000 << 2000;
    // The slider maximum pulls the speed down, and the controller is told.
    QTest::newRow("rotation, too fast") << 1 << 3000 << clean << "Type: Rotation"
                                        << "rad" << 2500 << 13000 << 2500;
    StageFaults noisy;
    noisy.crlf = true;
    noisy.okEvery = 1;
    noisy.commentEvery = 3;
    noisy.garbageEvery = 4;
    noisy.splitBytes = 16;
    noisy.latencyMs = 30;
    QTest::newRow("lifting, noisy line") << 2 << 1500 << noisy << "Type: Lifting"
                                         << "mm" << 4000 << 20000 << 1500;
}

void TestSession::identifiesTheStage()
{
    QFETCH(int, type);
    QFETCH(int, speed);
    QFETCH(StageFaults, faults);
    QFETCH(QString, typeText);
    QFETCH(QString, unit);
    QFETCH(int, maxSpeed);
    QFETCH(int, maxAccel);
    QFETCH(int, speedAfter);
    StageConfig c;
    c.type = type;
    c.serialNumber = 4711;
    c.position = 12345;
    c.refPos = 500;
    c.speed = speed;
    // Equal, because loading "accel" drags the deceleration slider along.
    c.accel = c.decel = 12000;
    c.holdTorque = 35;
    c.faults = faults;
    START_SESSION(s, c);

    QTRY_COMPARE_WITH_TIMEOUT(s.Lines("?").mid(0, 12), BulkQuery(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(s.ui()->snLabel->text(), QString("SN: 4711"), kWait);
    QVERIFY(s.ui()->connected_cBox->isChecked());
    QCOMPARE(s.ui()->typeLabel->text(), typeText);
    QCOMPARE(s.probe->unitText(), unit);
    QCOMPARE(s.ui()->PosGroupBox->title(), "Position (" + unit + ")");
    QCOMPARE(s.ui()->RunButton->isEnabled(), type == 1);
    QCOMPARE(s.ui()->SpeedSlider->maximum(), maxSpeed);
    QCOMPARE(s.ui()->AccelSlider->maximum(), maxAccel);
    QCOMPARE(s.ui()->DecelSlider->maximum(), maxAccel);
    QCOMPARE(s.ui()->SpeedSlider->value(), speedAfter);
    QCOMPARE(s.ui()->AccelSlider->value(), 12000);
    QCOMPARE(s.ui()->DecelSlider->value(), 12000);
    QCOMPARE(s.ui()->TrqSlider->value(), 35);
    QCOMPARE(s.ui()->posLineEdit->text(), QString("12.345"));
    QCOMPARE(s.ui()->RefLabel->text(), QString("Current value: 0.5"));
    QTRY_COMPARE_WITH_TIMEOUT(s.model().Value("speed"), qint64(speedAfter), kWait);
    // Loading the sliders is muted: the controller's own values never echo back.
    QCOMPARE(s.Lines("accel_").size() + s.Lines("decel_").size() + s.Lines("holdTorque_").size(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(s.ui()->statusbar->currentMessage(), QString("Stage not homed.   "), kWait);
}

void TestSession::homingMovesAndReference()
{
    StageConfig c;
    c.position = 5000;
    c.speed = 8000;
    c.accel = c.decel = 40000;
    c.homeSettleMs = 100;
    START_SESSION(s, c);
    ReadoutWatch watch(s);
    MainWindowUi *ui = s.ui();
    QTRY_COMPARE_WITH_TIMEOUT(ui->snLabel->text(), QString("SN: 1234"), kWait);

    ui->HomingButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(ui->MovingRadioButton->isChecked(), kWait);
    QCOMPARE(ui->statusbar->currentMessage(), QString("Stage not homed.   "));
    QTRY_VERIFY_WITH_TIMEOUT(s.model().IsHomed(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(ui->statusbar->currentMessage(), QString(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(ui->IdleRadioButton->isChecked(), kWait);
    QCOMPARE(ui->AbsolutePos_Label->text(), QString("Absolute position: 0"));

    // Go, then the four step buttons, each move carried out by the stage.
    ui->posLineEdit->setText("2.5");
    ui->goButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(ui->AbsolutePos_Label->text(), QString("Absolute position: 2.5"), kWait);
    const struct
    {
        QPushButton *button;
        qint64 to;
    } steps[] = {{ui->rightRightStepButton, 2520}, {ui->rightStepButton, 2521},
                 {ui->leftStepButton, 2520}, {ui->leftLeftStepButton, 2500}};
    for (const auto &step : steps) {
        step.button->click();
        QTRY_COMPARE_WITH_TIMEOUT(ShownPosition(ui), step.to, kWait);
        QCOMPARE(s.model().Value("pos"), step.to);
    }

    ui->RefLineEdit->setText("-1.5");
    ui->RefSetButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(s.model().Value("refPos"), qint64(-1500), kWait);
    ui->GoToRefButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(ui->AbsolutePos_Label->text(), QString("Absolute position: -1.5"), kWait);

    QCOMPARE(s.Lines("!"), (QList<QByteArray>{"!home_1", "!pos_2500", "!pos_2520", "!pos_2521",
                                               "!pos_2520", "!pos_2500", "!gotoRef_1"}));
    QVERIFY(watch.polls > 10);
    QVERIFY2(watch.lagging.isEmpty(), qPrintable(QString("%1 of %2 polls showed a stale position")
                                                     .arg(watch.lagging.size())
                                                     .arg(watch.polls)));
}

void TestSession::fourStationLoop()
{
    StageConfig c;
    c.status = 0;  // homed
    START_SESSION(s, c);
    MainWindowUi *ui = s.ui();
    QTRY_COMPARE_WITH_TIMEOUT(ui->snLabel->text(), QString("SN: 1234"), kWait);

    // Where the stage stood, and whether it was still moving, when each
    // position command arrived.
    QList<QPair<qint64, bool>> atCommand;
    connect(s.sim.get(), &StageSimulator_c::LineReceived, this, [&](const QByteArray &line) {
        if (line.startsWith("!pos_"))
            atCommand.append({s.model().Value("pos"), s.model().IsMoving()});
    });
    const char *positions[] = {"0.1", "0.3", "0.2", "0.4"};
    QLineEdit *pos[] = {ui->PosALineEdit, ui->PosBLineEdit, ui->PosCLineEdit, ui->PosDLineEdit};
    QLineEdit *vel[] = {ui->VelALineEdit, ui->VelBLineEdit, ui->VelCLineEdit, ui->VelDLineEdit};
    QLineEdit *wait[] = {ui->TimeALineEdit, ui->TimeBLineEdit, ui->TimeCLineEdit, ui->TimeDLineEdit};
    QCheckBox *use[] = {ui->useA_cBox, ui->useB_cBox, ui->useC_cBox, ui->useD_cBox};
    for (int i = 0; i < 4; ++i) {
        pos[i]->setText(positions[i]);
        vel[i]->setText("1");
        wait[i]->setText("0.05");
        use[i]->setChecked(true);
    }
    ui->LoopCountSlider->setValue(1);
    ui->LoopButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(ui->LoopButton->text(), QString("Start loop"), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!s.model().IsMoving(), kWait);

    QCOMPARE(s.Lines("!pos_"), (QList<QByteArray>{"!pos_100", "!pos_300", "!pos_200", "!pos_400"}));
    const QList<QByteArray> speeds = s.Lines("speed_");
    QCOMPARE(speeds.value(0), QByteArray("speed_1000"));
    QCOMPARE(speeds.last(), QByteArray("speed_2000"));  // restored at the end
    QCOMPARE(s.model().Value("pos"), qint64(400));
    // The travel-time estimate let every move finish before the next one.
    const QList<QPair<qint64, bool>> expected = {{0, false}, {100, false}, {300, false}, {200, false}};
    QCOMPARE(atCommand, expected);
}

void TestSession::cablePulledAndBack()
{
    StageConfig c;
    c.faults.hangUpAtMs = 1500;
    START_SESSION(s, c);
    MainWindowUi *ui = s.ui();
    QSignalSpy hungUp(s.sim.get(), &StageSimulator_c::HungUp);
    QTRY_COMPARE_WITH_TIMEOUT(ui->snLabel->text(), QString("SN: 1234"), kWait);
    QVERIFY(ui->connected_cBox->isChecked());

    DebugLog log;
    QVERIFY(hungUp.wait(kWait));
    QTRY_VERIFY_WITH_TIMEOUT(!s.probe->serial()->IsOpen(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!ui->connected_cBox->isChecked(), kWait);
    // Five poll periods of calm: one report, no stream of errors, no spinning.
    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QSignalSpy polls(s.probe->pollTimer(), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(polls.count() >= 5, kWait);
    const double cpuShare = (CpuSeconds() - cpuBefore) / (wall.elapsed() / 1000.0);
    QCOMPARE(DebugLog::Count("Cable disconnected."), 1);
    QVERIFY2(DebugLog::lines.size() <= 3, qPrintable(DebugLog::lines.join(" | ")));
    QVERIFY2(cpuShare < 0.25, qPrintable(QString("CPU %1").arg(cpuShare)));

    // A new controller on a new port: refresh the list and tick the box.
    PtyMaster pty2;
    QVERIFY(pty2.Open());
    StageConfig c2;
    c2.type = 1;
    c2.serialNumber = 99;
    StageSimulator_c sim2(&pty2, c2);
    ScopedPortList ports2({PtyPortEntry(pty2)});
    ui->updatePorts_Button->click();
    ui->connected_cBox->click();
    QTRY_COMPARE_WITH_TIMEOUT(ui->snLabel->text(), QString("SN: 99"), kWait);
    QCOMPARE(ui->typeLabel->text(), QString("Type: Rotation"));
    QCOMPARE(sim2.History().mid(0, 12), BulkQuery());
    QTRY_VERIFY_WITH_TIMEOUT(sim2.LinesStartingWith("?status").size() >= 3, kWait);
    QVERIFY(ui->connected_cBox->isChecked());
    s.window.reset();  // before the new controller goes away
}

QTEST_MAIN(TestSession)
#include "test_session.moc"
