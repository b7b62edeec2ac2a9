// The stage simulator: its model on a driven clock, its program, the window against it, faults.

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

// Once the stage is at pos, two polls later the read-out shows it (without replies, what it did).
void ExpectArrival(const Session &s, qint64 pos, qint64 shown)
{
    const QString text = "Absolute position: " + QString::number(shown / 1000.0);
    const QLabel *label = s.ui->AbsolutePos_Label;
    QTRY_COMPARE_WITH_TIMEOUT(s.sim.Model().Value("pos"), pos, kWait);
    const int at = s.Polls();
    QTRY_VERIFY_WITH_TIMEOUT(s.Polls() > at + 2 || (shown == pos && label->text() == text), kWait);
    QCOMPARE(label->text(), text);
}
enum Fault { HangUp, HangUpEarly, HangUpInLoop, Flood, Garbage, Silent };
}  // namespace

class TestStageSim : public QObject
{
    Q_OBJECT
private slots:
    // Each word of a script is a line fed to the model, except "+ms", which moves its clock
    // on and shows as "/" in the output, followed by what fell due. Line feeds show as blanks.
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
        QVERIFY2(output.match(QString::fromLatin1(out.replace('\n', ' '))).hasMatch(), out.data());
    }
    void program()
    {
        QProcess sim;
        sim.start(STAGE_SIM_PROGRAM, {"--type", "1", "--sn", "77"});
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), kWait);  // the first line names the port
        QSerialPort port(QString::fromLocal8Bit(sim.readLine()).trimmed());
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write("?type\n?sn\n");
        QTRY_COMPARE_WITH_TIMEOUT(port.peek(64), QByteArray("type_1\nsn_77\n"), kWait);
        sim.terminate();
        QVERIFY(sim.waitForFinished(kWait) && sim.exitCode() == 0);
    }
    void operatorSession()
    {
        // Rotation, SN 4711, fw 1.23, at 1, ref 0.5, unhomed, speed 3 (too high), 12, 11, 35.
        START_SESSION(s, (StageConfig{1, 4711, 123, 1000, 500, 4, 3000, 12000, 11000, 35,
                                      -1000000, 1000000, 300, StageFaults()}));
        MainWindowUi *ui = s.ui;
        QTRY_COMPARE_WITH_TIMEOUT(s.sim.History().mid(0, 12).join(' '), kBulkQuery, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(ui->snLabel->text(), QString("SN: 4711"), kWait);  // 500 ms on
        QStringList shown{ui->connected_cBox->isChecked() ? "ticked" : "", s.probe.unitText()};
        for (QSlider *bar : {ui->SpeedSlider, ui->AccelSlider, ui->DecelSlider, ui->TrqSlider})
            shown << QString("%1/%2").arg(bar->value()).arg(bar->maximum());
        QCOMPARE(ui->typeLabel->text() + "|" + shown.join('|'),
                 "Type: Rotation|ticked|rad|2500/2500|12000/13000|11000/13000|35/75");
        const auto press = [&](auto *b, int to) { b->click(); ExpectArrival(s, to, to); };
        press(ui->HomingButton, 0);
        ui->posLineEdit->setText("0.5");
        press(ui->goButton, 500);
        press(ui->rightRightStepButton, 520);  // the small right step is tested with the form
        press(ui->leftStepButton, 519);
        press(ui->leftLeftStepButton, 499);
        ui->RefLineEdit->setText("-0.3");
        ui->RefSetButton->click();
        press(ui->GoToRefButton, -300);
        const char *stations[] = {"0.1", "0.3", "0.2", "0.4"};  // at the form's 2 mm/s
        for (int i = 0; i < 4; ++i) {
            const auto find = [&](const char *name) { return QString(name).arg(QChar('A' + i)); };
            s.window->findChild<QLineEdit *>(find("Pos%1LineEdit"))->setText(stations[i]);
            s.window->findChild<QLineEdit *>(find("Time%1LineEdit"))->setText("0.05");
            s.window->findChild<QCheckBox *>(find("use%1_cBox"))->setChecked(true);
        }
        ui->LoopCountSlider->setValue(1);
        press(ui->LoopButton, 400);  // the last station: the loop is through
        QCOMPARE(s.Lines("!").join(' '), "!home_1 !pos_500 !pos_520 !pos_519 !pos_499 "
                                         "!gotoRef_1 !pos_100 !pos_300 !pos_200 !pos_400");
    }
    // A hang-up: disconnected without an error storm, then reconnected. Else moves still show.
    void faults_data()
    {
        QTest::addColumn<int>("fault");
        int fault = HangUp;
        for (const char *tag : {"hang-up while polling", "hang-up before the refresh",
                                "hang-up in a loop", "4000 bytes without a line feed",
                                "garbage between replies", "replies never come"})
            QTest::newRow(tag) << fault++;
    }
    void faults()
    {
        QFETCH(int, fault);
        int portErrors = 0;  // outlives the window
        StageConfig config;
        config.faults.garbageEvery = fault == Garbage;
        config.faults.dropEvery = fault == Silent;
        START_SESSION(s, config);
        connect(s.probe.serial()->Port(), &QSerialPort::errorOccurred, [&] { ++portErrors; });
        const bool hangUp = fault <= HangUpInLoop;
        if (fault != HangUpEarly)  // else the bulk query is out, not its replies nor the refresh
            QTRY_VERIFY_WITH_TIMEOUT(s.Polls() >= 3, kWait);
        if (fault == HangUpInLoop) {  // the form's stations A and B, over and over
            s.ui->LoopCheckBox->setChecked(true);
            s.ui->LoopButton->click();
            QTRY_VERIFY_WITH_TIMEOUT(s.Lines("!pos_").size() >= 2, kWait);
        }
        if (fault == Flood)  // the regression: replies after it came a dozen lines late
            s.pty.Write(QByteArray(4000, 'x'));  // the reply that follows goes down with it
        if (hangUp) {
            QTest::ignoreMessage(QtDebugMsg, "Cable disconnected.");
            s.sim.HangUp();
        }
        QTRY_VERIFY_WITH_TIMEOUT(s.probe.serial()->IsOpen() != hangUp
                                     && s.ui->connected_cBox->isChecked() != hangUp, kWait);
        QVERIFY2(portErrors <= 4, qPrintable(QString::number(portErrors) + " port errors"));
        if (!hangUp) {
            s.ui->posLineEdit->setText("1.5");
            s.ui->goButton->click();
            ExpectArrival(s, 1500, fault == Silent ? 0 : 1500);
            return;
        }
        PtyMaster pty;  // the controller is back, on a new port
        QVERIFY(pty.Open());
        ScopedPortList ports({PtyPortEntry(pty)});
        s.ui->updatePorts_Button->click();
        s.ui->connected_cBox->click();
        QTRY_COMPARE(pty.Received().split('\n').mid(0, 12).join(' '), kBulkQuery);
        QTRY_VERIFY_WITH_TIMEOUT(s.ui->connected_cBox->isChecked(), kWait);
    }
};

QTEST_MAIN(TestStageSim)
#include "test_stagesim.moc"
