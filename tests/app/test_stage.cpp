// Stage operation through the real window and a pseudo-terminal peer: polling,
// read-outs, commands, and controller values far outside the int range.

#include "support/testsupport.h"

#include <QtTest>
#include <QtWidgets>

const QString kBoth = " [Stage not homed.   Hardware error.] red ";

class TestStage : public QObject
{
    Q_OBJECT

private slots:
    // Each test gets a window with its link open on a pty but ConnectionChanged
    // blocked, which keeps the connection set-up out of the bytes; ticks are manual.
    void init()
    {
        pty.reset(new PtyMaster);
        if (!pty->Open())
            QSKIP("no pseudo-terminal available");
        w.reset(new MainWindow);
        p.reset(new MainWindowProbe(w.data()));
        ui = p->ui();
        p->pollTimer()->stop();
        p->serial()->SetPortName(pty->SlavePath());
        QVERIFY(Open(true));
    }

    // A tick draws what the table holds, then asks for the next values.
    void polling_data()
    {
        QTest::addColumn<QString>("replies");
        QTest::addColumn<QString>("shown");
        QTest::newRow("0") << "status_0 pos_12345" << "Idle Run black [] black 12.345";
        QTest::newRow("3") << "status_3 pos_-500" << "Error Stop red [] black -0.5";
        QTest::newRow("4") << "status_4 pos_0" << "Idle Run black [Stage not homed.   ] black 0";
        QTest::newRow("12") << "status_12 pos_1e300" << "Idle Run black" + kBoth + "1e+297";
        QTest::newRow("1.9") << "status_1.9 pos_-1e300" << "Moving Stop black [] black -1e+297";
        QTest::newRow("1e300") << "status_1e300 pos_nan" << "Error Stop red" + kBoth + "0";
        QTest::newRow("-1e300") << "status_-1e300" << "Idle Run black [] black 0.777";
        QTest::newRow("nan") << "status_nan" << "Idle Run black [] black 0.777";
    }
    void polling()
    {
        QFETCH(QString, replies);
        p->posOffset() = 5.0;  // the read-out is absolute
        p->serial()->ProcessBytes("status_15\npos_777\n");
        QVERIFY(Open(false));
        w->SendRequests();  // closed: sends nothing
        QVERIFY(Open(true));
        w->SendRequests();
        QCOMPARE(Shown(), "Error Stop red" + kBoth + "0.777");
        p->serial()->ProcessBytes(AsLines(replies));
        QCOMPARE(Shown(), "Error Stop red" + kBoth + "0.777");  // shown at the next tick
        w->SendRequests();
        QTEST(Shown(), "shown");
        Sent("?status\n?pos\n?refPos\n?status\n?pos\n?refPos\n");
    }

    // The connection set-up: the queries, then the refresh 500 ms later loads
    // the replies with the link muted; only a clamp to a new maximum is sent.
    void connection_data()
    {
        for (const char *column : { "replies", "sent", "shown" })
            QTest::addColumn<QString>(column);
        QTest::newRow("rotation") << "type_1 sn_1234.0" << "speed_2500\n"
                                  << "Type: Rotation|11|2500 13000 13000|SN: 1234|rad";
        const QString kept = "Type: Linear|00|8000 40000 40000|SN: ";  // unknown: limits kept
        QTest::newRow("1e300") << "type_1e300 sn_1e300" << "" << kept + "2147483647|";
        QTest::newRow("-1e300") << "type_-1e300 sn_-1e300" << "" << kept + "-2147483648|";
        QTest::newRow("nan") << "type_nan sn_nan" << "" << kept + "0|mm";
    }
    void connection()
    {
        QFETCH(QString, replies);
        QFETCH(QString, sent);
        QFETCH(QString, shown);
        QVERIFY(Open(false));
        p->serial()->OpenPort(true);  // as the start-up discovery and the connected box do
        pty->Write("pos_12345\nstatus_0\nspeed_3000\naccel_8000\ndecel_6000\n" + AsLines(replies));
        QTRY_COMPARE_WITH_TIMEOUT(Identity(), shown, 10000);
        // Accel drags decel along while loading; the reported decel must win.
        QCOMPARE(qMakePair(ui->DecelSlider->value(), p->params()->ValueOf("decel")),
            qMakePair(6000, 6000.0));
        const QByteArray queries = "?pos\n?refPos\n?status\n?home\n?run\n?type\n?sn\n?fw\n"
                                   "?speed\n?accel\n?decel\n?holdTorque\n";
        QTRY_COMPARE_WITH_TIMEOUT(pty->Received(), queries + sent.toLatin1(), 10000);
    }

    // After the replies are drawn, each action clicks a button, sets a slider or
    // line edit (name=value) or presses Return in a line edit (name alone).
    void commands_data()
    {
        for (const char *column : { "replies", "actions", "sent", "check" })
            QTest::addColumn<QString>(column);
        auto row = [](const char *name, const char *replies, const char *actions,
                       const char *sent, const char *check) {
            QTest::newRow(name) << replies << actions << sent << check;
        };
        row("Go truncates", "", "posLineEdit=1.005 goButton", "!pos_1004", "");
        row("step", "", "posLineEdit=0.9995 rightStepButton", "!pos_1001", "posLineEdit=1.0005");
        row("Go after Set", "pos_2000", "PosSetButton posLineEdit=0.5 goButton", "!pos_2500", "");
        row("saturated", "pos_1e300", "PosSetButton posLineEdit=1 goButton", "!pos_2147483647", "");
        row("homing clears offset", "pos_2000", "PosSetButton HomingButton goButton",
            "!home_1 !pos_0", "Offset_Label=Offset: 0");
        // Go to reference shows the stored reference, absolute as it is.
        row("reference", "pos_2000", "PosSetButton RefLineEdit=-1.5 RefSetButton GoToRefButton",
            "refPos_-1500 !gotoRef_1", "posLineEdit=-1.5");
        row("run", "status_4", "RunButton", "!run_-1", "");
        row("run backwards", "status_0", "backwards_cBox RunButton", "!run_1", "");
        row("stop", "status_1", "backwards_cBox RunButton", "!run_0", "");
        row("speed", "", "SpeedSlider=3000", "speed_3000", "VelLabel=3.0");
        // Decel first: the label slot, which drags decel along, runs before the send.
        row("accel", "", "AccelSlider=20000", "decel_20000 accel_20000", "DecelLabel=20.0");
        row("decel already there", "", "DecelSlider=20000 AccelSlider=20000",
            "decel_20000 accel_20000", "AccelLabel=20.0");
        row("torque", "", "TrqSlider=35", "holdTorque_35", "TrqLabel=35");
    }
    void commands()
    {
        QFETCH(QString, replies);
        QFETCH(QString, actions);
        QFETCH(QString, sent);
        QFETCH(QString, check);
        p->SetStageType(1);  // Run is enabled on rotation stages only
        p->serial()->ProcessBytes(AsLines(replies));
        w->UpdateUi();
        for (const QString &action : actions.split(' ')) {
            QWidget *target = w->findChild<QWidget *>(action.section('=', 0, 0));
            if (action.contains('='))
                target->setProperty(target->inherits("QSlider") ? "value" : "text",
                    action.section('=', 1));
            else if (target->inherits("QLineEdit"))
                QTest::keyClick(target, Qt::Key_Return);
            else
                qobject_cast<QAbstractButton *>(target)->click();
        }
        Sent(AsLines(sent));
        if (!check.isEmpty())
            QCOMPARE(w->findChild<QWidget *>(check.section('=', 0, 0))->property("text"),
                QVariant(check.section('=', 1)));
    }

private:
    bool Open(bool on) { QSignalBlocker q(p->serial()); return p->serial()->OpenPort(on) == on; }
    void Sent(const QByteArray &expected)  // exactly these bytes, then drained
    {
        QTRY_COMPARE_WITH_TIMEOUT(pty->Received(), expected, 10000);
        pty->TakeReceived();
    }
    QByteArray AsLines(QString words) { return words.replace(' ', '\n').toLatin1() + '\n'; }
    // Status radio button, Run text, colours of position and bar, bar message, position.
    QString Shown() const
    {
        auto tint = [](QWidget *x) { return x->styleSheet().contains("red") ? " red" : " black"; };
        return ui->buttonGroup->checkedButton()->text() + " " + ui->RunButton->text()
            + tint(ui->AbsolutePos_Label) + " [" + ui->statusbar->currentMessage() + "]"
            + tint(ui->statusbar) + ui->AbsolutePos_Label->text().remove("Absolute position:");
    }
    // Type, Run and Backwards enabled, slider maxima, serial number, unit.
    QString Identity() const
    {
        return ui->typeLabel->text() + "|" + QString::number(ui->RunButton->isEnabled())
            + QString::number(ui->backwards_cBox->isEnabled()) + "|"
            + QString("%1 %2 %3|").arg(ui->SpeedSlider->maximum()).arg(ui->AccelSlider->maximum())
                  .arg(ui->DecelSlider->maximum()) + ui->snLabel->text() + "|" + p->unitText();
    }

    ScopedPortList noPorts { {} };  // the start-up discovery finds nothing
    QScopedPointer<PtyMaster> pty;
    QScopedPointer<MainWindow> w;
    QScopedPointer<MainWindowProbe> p;
    MainWindowUi *ui = nullptr;
};

QTEST_MAIN(TestStage)
#include "test_stage.moc"
