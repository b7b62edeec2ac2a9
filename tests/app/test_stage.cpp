// Stage operation through the real window and a pseudo-terminal peer:
// polling, the status and identity read-outs, the motion and parameter
// commands, and the handling of out-of-range controller values.

#include "support/testsupport.h"

#include <QtTest>
#include <QtWidgets>

#include <cmath>
#include <limits>
#include <memory>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const QByteArray kPoll = "?status\n?pos\n?refPos\n";

// A window whose link is open on the pty. The start-up discovery finds no
// port, and the link is opened with its ConnectionChanged blocked, so the
// connection set-up (queries, delayed refresh) stays out of the byte stream;
// the poll timer is stopped so the test decides when a tick happens.
struct Rig
{
    PtyMaster pty;
    std::unique_ptr<ScopedPortList> ports;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;

    bool Start()
    {
        if (!pty.Open())
            return false;
        ports.reset(new ScopedPortList({}));
        window.reset(new MainWindow);
        probe.reset(new MainWindowProbe(window.get()));
        probe->pollTimer()->stop();
        Serial_c *link = probe->serial();
        link->SetPortName(pty.SlavePath());
        const QSignalBlocker quiet(link);
        return link->OpenPort(true) == 1;
    }
    MainWindowUi *ui() const { return probe->ui(); }
    ParamTable_c *params() const { return probe->params(); }
    void Tick() const { QVERIFY(QMetaObject::invokeMethod(window.get(), "SendRequests")); }
    // Controller replies through the receive path, without waiting on the pty.
    void Reply(const QByteArray &lines) const { probe->serial()->ProcessBytes(lines); }
};

#define START_RIG(rig)                                        \
    Rig rig;                                                  \
    if (!rig.Start())                                         \
        QSKIP("no pseudo-terminal available");

}  // namespace

class TestStage : public QObject
{
    Q_OBJECT

private slots:
    // --- Polling ---------------------------------------------------------

    void pollingWaitsForAnOpenPortAndShowsRepliesAtTheNextTick()
    {
        START_RIG(rig);
        rig.params()->SetValue(QString("status"), 3);
        rig.params()->SetValue(QString("pos"), 777);
        const QString before = rig.ui()->AbsolutePos_Label->text();

        // Closed: a tick neither redraws nor sends.
        rig.probe->serial()->OpenPort(false);
        rig.Tick();
        QCOMPARE(rig.ui()->AbsolutePos_Label->text(), before);
        QVERIFY(rig.ui()->IdleRadioButton->isChecked());
        {
            const QSignalBlocker quiet(rig.probe->serial());
            QCOMPARE(rig.probe->serial()->OpenPort(true), 1);
        }

        // Open: the tick draws what the table holds, then asks again.
        rig.Tick();
        QCOMPARE(rig.ui()->AbsolutePos_Label->text(), QString("Absolute position: 0.777"));
        QVERIFY(rig.ui()->ErrorRadioButton->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(rig.pty.Received(), kPoll, 10000);
        rig.pty.TakeReceived();

        // A reply lands in the table but waits for the next tick.
        rig.pty.Write("pos_12345\r\nstatus_0\n");
        QTRY_COMPARE_WITH_TIMEOUT(rig.params()->ValueOf("status"), 0.0, 10000);
        QCOMPARE(rig.params()->ValueOf("pos"), 12345.0);
        QCOMPARE(rig.ui()->AbsolutePos_Label->text(), QString("Absolute position: 0.777"));
        QVERIFY(rig.ui()->ErrorRadioButton->isChecked());
        rig.Tick();
        QCOMPARE(rig.ui()->AbsolutePos_Label->text(), QString("Absolute position: 12.345"));
        QVERIFY(rig.ui()->IdleRadioButton->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(rig.pty.Received(), kPoll, 10000);
    }

    // --- Read-outs --------------------------------------------------------

    void statusWord_data()
    {
        QTest::addColumn<QByteArray>("reply");  // empty: value set directly
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("runText");
        QTest::addColumn<int>("isRunning");
        QTest::addColumn<QString>("posStyle");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("barStyle");
        const QString black = "QLabel {  color : black; }";
        const QString red = "QLabel {  color : red; }";
        const QString both = "Stage not homed.   Hardware error.";
        QTest::newRow("0 idle") << QByteArray("status_0\n") << 0.0 << "Idle" << "Run" << 0 << black
                                << "" << black;
        QTest::newRow("3 moving with error")
            << QByteArray("status_3\n") << 0.0 << "Error" << "Stop" << 1 << red << "" << black;
        QTest::newRow("4 not homed") << QByteArray("status_4\n") << 0.0 << "Idle" << "Run" << 0
                                     << black << "Stage not homed.   " << "color: black";
        QTest::newRow("12 hardware error") << QByteArray("status_12\n") << 0.0 << "Idle" << "Run" << 0
                                           << black << both << "color: red";
        QTest::newRow("1.9 truncated") << QByteArray("status_1.9\n") << 0.0 << "Moving" << "Stop" << 1
                                       << black << "" << black;
        QTest::newRow("16 higher bits ignored")
            << QByteArray("status_16\n") << 0.0 << "Idle" << "Run" << 0 << black << "" << black;
        // Saturated to INT_MAX: every bit set. INT_MIN has none of the low four.
        QTest::newRow("parsed 1e300") << QByteArray("status_1e300\n") << 0.0 << "Error" << "Stop" << 1
                                      << red << both << "color: red";
        QTest::newRow("parsed -1e300") << QByteArray("status_-1e300\n") << 0.0 << "Idle" << "Run" << 0
                                       << black << "" << black;
        QTest::newRow("parsed nan") << QByteArray("status_nan\n") << 0.0 << "Idle" << "Run" << 0
                                    << black << "" << black;
        QTest::newRow("table 1e300") << QByteArray() << 1e300 << "Error" << "Stop" << 1 << red << both
                                     << "color: red";
        QTest::newRow("table -inf") << QByteArray() << -HUGE_VAL << "Idle" << "Run" << 0 << black
                                    << "" << black;
        QTest::newRow("table nan") << QByteArray() << kNaN << "Idle" << "Run" << 0 << black << ""
                                   << black;
    }
    void statusWord()
    {
        QFETCH(QByteArray, reply);
        QFETCH(double, value);
        QFETCH(QString, checked);
        START_RIG(rig);
        // Start from the opposite state so every row has something to change.
        rig.probe->ShowStatus(15);
        if (reply.isEmpty())
            rig.params()->SetValue(QString("status"), value);
        else
            rig.Reply(reply);
        rig.window->UpdateUi();

        MainWindowUi *ui = rig.ui();
        QCOMPARE(ui->IdleRadioButton->isChecked(), checked == "Idle");
        QCOMPARE(ui->MovingRadioButton->isChecked(), checked == "Moving");
        QCOMPARE(ui->ErrorRadioButton->isChecked(), checked == "Error");
        QTEST(ui->RunButton->text(), "runText");
        QTEST(rig.probe->isRunning(), "isRunning");
        QTEST(ui->AbsolutePos_Label->styleSheet(), "posStyle");
        QTEST(ui->statusbar->currentMessage(), "message");
        QTEST(ui->statusbar->styleSheet(), "barStyle");
    }

    void positionReadout_data()
    {
        QTest::addColumn<double>("pos");
        QTest::addColumn<QString>("text");
        QTest::newRow("12345") << 12345.0 << "Absolute position: 12.345";
        QTest::newRow("-500") << -500.0 << "Absolute position: -0.5";
        QTest::newRow("0") << 0.0 << "Absolute position: 0";
        QTest::newRow("1e300") << 1e300 << "Absolute position: 1e+297";
        QTest::newRow("-1e300") << -1e300 << "Absolute position: -1e+297";
        QTest::newRow("nan") << kNaN << "Absolute position: nan";
    }
    void positionReadout()
    {
        QFETCH(double, pos);
        START_RIG(rig);
        rig.probe->posOffset() = 5.0;  // the read-out is absolute
        rig.params()->SetValue(QString("pos"), pos);
        rig.window->UpdateUi();
        QTEST(rig.ui()->AbsolutePos_Label->text(), "text");
    }

    // UpdateUiAfterConnect with the stage values a controller may report.
    // Each row first applies a rotation stage, so "kept" is visible.
    void stageIdentity_data()
    {
        QTest::addColumn<double>("type");
        QTest::addColumn<double>("sn");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("typeText");
        QTest::addColumn<bool>("runEnabled");
        QTest::addColumn<int>("speedMax");
        QTest::addColumn<int>("accelMax");
        QTest::addColumn<QString>("snText");
        QTest::newRow("linear") << 0.0 << 1234.0 << "mm" << "Type: Linear" << false << 8000 << 40000
                                << "SN: 1234";
        QTest::newRow("rotation") << 1.0 << 1234.9 << "rad" << "Type: Rotation" << true << 2500
                                  << 13000 << "SN: 1234";
        QTest::newRow("lifting") << 2.0 << -7.0 << "mm" << "Type: Lifting" << false << 4000 << 20000
                                 << "SN: -7";
        QTest::newRow("type 3") << 3.0 << 1e300 << "" << "Type: Rotation" << false << 2500 << 13000
                                << "SN: 2147483647";
        QTest::newRow("type -1") << -1.0 << -1e300 << "" << "Type: Rotation" << false << 2500 << 13000
                                 << "SN: -2147483648";
        QTest::newRow("type 1e300") << 1e300 << kNaN << "" << "Type: Rotation" << false << 2500
                                    << 13000 << "SN: 0";
        QTest::newRow("type -1e300") << -1e300 << 0.0 << "" << "Type: Rotation" << false << 2500
                                     << 13000 << "SN: 0";
        QTest::newRow("type nan is linear") << kNaN << 0.0 << "mm" << "Type: Linear" << false << 8000
                                            << 40000 << "SN: 0";
    }
    void stageIdentity()
    {
        QFETCH(double, type);
        QFETCH(double, sn);
        QFETCH(QString, unit);
        START_RIG(rig);
        rig.params()->SetValue(QString("type"), 1);
        rig.window->UpdateUiAfterConnect();
        rig.params()->SetValue(QString("type"), type);
        rig.params()->SetValue(QString("sn"), sn);
        rig.window->UpdateUiAfterConnect();

        MainWindowUi *ui = rig.ui();
        QCOMPARE(rig.probe->unitText(), unit);
        QTEST(ui->typeLabel->text(), "typeText");
        QTEST(ui->RunButton->isEnabled(), "runEnabled");
        QTEST(ui->backwards_cBox->isEnabled(), "runEnabled");
        QTEST(ui->SpeedSlider->maximum(), "speedMax");
        QTEST(ui->AccelSlider->maximum(), "accelMax");
        QTEST(ui->DecelSlider->maximum(), "accelMax");
        QTEST(ui->snLabel->text(), "snText");
        QCOMPARE(ui->RefGroupBox->title(), "Absolute Reference Position (" + unit + ")");
        QCOMPARE(ui->PosGroupBox->title(), "Position (" + unit + ")");
        QCOMPARE(ui->SpeedLabel->text(), "max.Speed (" + unit + "/s)");
        QCOMPARE(ui->AccelLabel_2->text(), "Accel (" + unit + "/s^2)");
        QCOMPARE(ui->DecelLabel_2->text(), "Decel (" + unit + "/s^2)");
        QCOMPARE(ui->PLabel->text(), "Position (" + unit + ")");
        QCOMPARE(ui->SLabel->text(), "Speed (" + unit + "/s)");
    }

    // The real start-up path: the window finds the pty, queries every row,
    // and refreshes itself 500 ms later from the answers.
    void connectionToRotationStage()
    {
        PtyMaster pty;
        if (!pty.Open())
            QSKIP("no pseudo-terminal available");
        ScopedPortList ports({PtyPortEntry(pty)});
        MainWindow window;
        MainWindowProbe probe(&window);
        probe.pollTimer()->stop();
        MainWindowUi *ui = probe.ui();

        QList<QPair<int, bool>> speedChanges;  // value, link muted
        connect(ui->SpeedSlider, &QSlider::valueChanged, this,
                [&](int v) { speedChanges.append({v, probe.serial()->IsMuted()}); });

        const QByteArray queries = "?pos\n?refPos\n?status\n?home\n?run\n?type\n?sn\n?fw\n"
                                   "?speed\n?accel\n?decel\n?holdTorque\n";
        QTRY_COMPARE_WITH_TIMEOUT(pty.Received(), queries, 10000);
        pty.Write("pos_12345\nrefPos_-1500\nstatus_0\nhome_1\nrun_0\ntype_1\nsn_1234.0\nfw_110\n"
                  "speed_3000\naccel_8000\ndecel_6000\nholdTorque_20\n");

        QTRY_COMPARE_WITH_TIMEOUT(ui->typeLabel->text(), QString("Type: Rotation"), 10000);
        QCOMPARE(probe.unitText(), QString("rad"));
        QVERIFY(ui->RunButton->isEnabled());
        QVERIFY(ui->backwards_cBox->isEnabled());
        QCOMPARE(ui->SpeedSlider->maximum(), 2500);
        QCOMPARE(ui->AccelSlider->maximum(), 13000);
        QCOMPARE(ui->DecelSlider->maximum(), 13000);
        QCOMPARE(ui->snLabel->text(), QString("SN: 1234"));
        QCOMPARE(ui->posLineEdit->text(), QString("12.345"));
        QCOMPARE(ui->RefLabel->text(), QString("Current value: -1.5"));
        QCOMPARE(ui->VelLabel->text(), QString("2.5"));
        QCOMPARE(probe.params()->ValueOf("speed"), 2500.0);
        QCOMPARE(ui->AccelSlider->value(), 8000);
        // The acceleration slider drags the deceleration along; the reported
        // deceleration must still win.
        QCOMPARE(ui->DecelSlider->value(), 6000);
        QCOMPARE(probe.params()->ValueOf("decel"), 6000.0);
        // 3000 was loaded silently; only the clamp to the new maximum is sent.
        QCOMPARE(speedChanges, (QList<QPair<int, bool>>{{3000, true}, {2500, false}}));
        QTRY_COMPARE_WITH_TIMEOUT(pty.Received(), queries + "speed_2500\n", 10000);
    }

    // --- Commands -----------------------------------------------------------

    void positionCommands_data()
    {
        QTest::addColumn<QByteArray>("polled");  // reply before the press, may be empty
        QTest::addColumn<bool>("setZero");       // press Set after the reply
        QTest::addColumn<double>("offset");      // else stored directly, as a settings file does
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("shown");
        const QByteArray none;
        QTest::newRow("Go truncates") << none << false << 0.0 << "1.005" << "goButton"
                                      << QByteArray("!pos_1004\n") << "1.005";
        QTest::newRow("Return truncates") << none << false << 0.0 << "-1.005" << "posLineEdit"
                                          << QByteArray("!pos_-1004\n") << "-1.005";
        QTest::newRow("step rounds half up") << none << false << 0.0 << "0.9995" << "rightStepButton"
                                             << QByteArray("!pos_1001\n") << "1.0005";
        QTest::newRow("small step back") << none << false << 0.0 << "1" << "leftStepButton"
                                         << QByteArray("!pos_999\n") << "0.999";
        QTest::newRow("large step back") << none << false << 0.0 << "0" << "leftLeftStepButton"
                                         << QByteArray("!pos_-20\n") << "-0.02";
        QTest::newRow("large step on") << none << false << 0.0 << "1" << "rightRightStepButton"
                                       << QByteArray("!pos_1020\n") << "1.02";
        QTest::newRow("empty text is 0") << none << false << 0.25 << "" << "goButton"
                                         << QByteArray("!pos_250\n") << "";
        QTest::newRow("Go after Set") << QByteArray("pos_2000\n") << true << 0.0 << "0.5" << "goButton"
                                      << QByteArray("!pos_2500\n") << "0.5";
        QTest::newRow("step after Set") << QByteArray("pos_2000\n") << true << 0.0 << "0.5"
                                        << "rightStepButton" << QByteArray("!pos_2501\n") << "0.501";
        QTest::newRow("Set at 1e300 saturates") << QByteArray("pos_1e300\n") << true << 0.0 << "1"
                                                << "goButton" << QByteArray("!pos_2147483647\n") << "1";
        QTest::newRow("offset 1e300 saturates") << none << false << 1e300 << "1000" << "goButton"
                                                << QByteArray("!pos_2147483647\n") << "1000";
        QTest::newRow("offset -1e300 saturates") << none << false << -1e300 << "-1000" << "goButton"
                                                 << QByteArray("!pos_-2147483648\n") << "-1000";
        QTest::newRow("offset nan counts 0") << none << false << kNaN << "1" << "rightStepButton"
                                             << QByteArray("!pos_1001\n") << "1.001";
    }
    void positionCommands()
    {
        QFETCH(QByteArray, polled);
        QFETCH(bool, setZero);
        QFETCH(double, offset);
        QFETCH(QString, typed);
        QFETCH(QString, control);
        START_RIG(rig);
        rig.Reply(polled);
        if (setZero)
            rig.ui()->PosSetButton->click();
        else
            rig.probe->posOffset() = offset;
        rig.ui()->posLineEdit->setText(typed);

        if (control == "posLineEdit")
            QTest::keyClick(rig.ui()->posLineEdit, Qt::Key_Return);
        else
            rig.window->findChild<QPushButton *>(control)->click();

        QFETCH(QByteArray, line);
        QTRY_COMPARE_WITH_TIMEOUT(rig.pty.Received(), line, 10000);
        QTEST(rig.ui()->posLineEdit->text(), "shown");
    }

    void offsetHomingAndReference()
    {
        START_RIG(rig);
        MainWindowUi *ui = rig.ui();
        rig.Reply("pos_2000\nrefPos_1500\n");

        ui->PosSetButton->click();
        QCOMPARE(ui->Offset_Label->text(), QString("Offset: 2"));
        QCOMPARE(ui->posLineEdit->text(), QString("0"));

        ui->UnsetButton->click();
        QCOMPARE(rig.probe->posOffset(), 0.0);
        QCOMPARE(ui->Offset_Label->text(), QString("Offset: 0"));
        QCOMPARE(ui->posLineEdit->text(), QString("2"));

        // Go to reference shows the absolute reference; the offset stays out.
        ui->PosSetButton->click();
        ui->GoToRefButton->click();
        QCOMPARE(ui->posLineEdit->text(), QString("1.5"));
        QCOMPARE(rig.probe->posOffset(), 2.0);

        ui->HomingButton->click();
        QCOMPARE(rig.probe->posOffset(), 0.0);
        QCOMPARE(ui->Offset_Label->text(), QString("Offset: 0"));
        QCOMPARE(ui->posLineEdit->text(), QString("0"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.pty.Received(), QByteArray("!gotoRef_1\n!home_1\n"), 10000);
        rig.pty.TakeReceived();

        // Set reference, by button and by Return.
        ui->RefLineEdit->setText("-1.5");
        ui->RefSetButton->click();
        QCOMPARE(rig.params()->ValueOf("refPos"), -1500.0);
        QCOMPARE(ui->RefLabel->text(), QString("Current value: -1.5"));
        ui->RefLineEdit->setText("1.005");
        QTest::keyClick(ui->RefLineEdit, Qt::Key_Return);
        QCOMPARE(rig.params()->ValueOf("refPos"), 1004.0);
        QCOMPARE(ui->RefLabel->text(), QString("Current value: 1.005"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.pty.Received(), QByteArray("refPos_-1500\nrefPos_1004\n"), 10000);
    }

    void run_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("backwards");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("idle forward") << 0 << false << QByteArray("!run_-1\n");
        QTest::newRow("idle backwards") << 4 << true << QByteArray("!run_1\n");
        QTest::newRow("moving backwards") << 1 << true << QByteArray("!run_0\n");
        QTest::newRow("moving forward") << 5 << false << QByteArray("!run_0\n");
    }
    void run()
    {
        QFETCH(int, status);
        QFETCH(bool, backwards);
        START_RIG(rig);
        rig.probe->SetStageType(1);
        rig.probe->ShowStatus(status);
        rig.ui()->backwards_cBox->setChecked(backwards);
        rig.ui()->RunButton->click();
        QFETCH(QByteArray, line);
        QTRY_COMPARE_WITH_TIMEOUT(rig.pty.Received(), line, 10000);
    }

    void sliders_data()
    {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("decelBefore");
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("text");
        QTest::newRow("speed") << "SpeedSlider" << 30000 << 3000 << QByteArray("speed_3000\n")
                               << "VelLabel" << "3.0";
        QTest::newRow("accel drags decel")
            << "AccelSlider" << 30000 << 20000 << QByteArray("decel_20000\naccel_20000\n")
            << "DecelLabel" << "20.0";
        QTest::newRow("decel already there") << "AccelSlider" << 20000 << 20000
                                             << QByteArray("accel_20000\n") << "AccelLabel" << "20.0";
        QTest::newRow("decel alone") << "DecelSlider" << 30000 << 12000
                                     << QByteArray("decel_12000\n") << "DecelLabel" << "12.0";
        QTest::newRow("torque") << "TrqSlider" << 30000 << 35 << QByteArray("holdTorque_35\n")
                                << "TrqLabel" << "35";
    }
    void sliders()
    {
        QFETCH(QString, slider);
        QFETCH(int, decelBefore);
        QFETCH(int, value);
        QFETCH(QString, label);
        START_RIG(rig);
        if (rig.ui()->DecelSlider->value() != decelBefore) {
            rig.ui()->DecelSlider->setValue(decelBefore);
            QTRY_COMPARE_WITH_TIMEOUT(rig.pty.Received(),
                                      "decel_" + QByteArray::number(decelBefore) + "\n", 10000);
            rig.pty.TakeReceived();
        }

        // Connected after the window's own slots: by the time it runs, the
        // label and the table have taken the value of this change.
        auto *target = rig.window->findChild<QSlider *>(slider);
        auto *shown = rig.window->findChild<QLabel *>(label);
        const QByteArray key = rig.params()->Entry(rig.params()->IndexOfControl(target)).key.toLatin1();
        QStringList seen;
        connect(target, &QSlider::valueChanged, this, [&] {
            seen << shown->text() << QString::number(rig.params()->ValueOf(key.constData()));
        });
        target->setValue(value);

        QFETCH(QString, text);
        QCOMPARE(seen, (QStringList{text, QString::number(value)}));
        QFETCH(QByteArray, lines);
        QTRY_COMPARE_WITH_TIMEOUT(rig.pty.Received(), lines, 10000);
    }
};

QTEST_MAIN(TestStage)
#include "test_stage.moc"
