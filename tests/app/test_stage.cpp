// Stage operation through the real window and a pseudo-terminal peer: polling,
// read-outs, commands, and controller values far outside the int range.

#include "support/testsupport.h"
#include <QtTest>
#include <QtWidgets>

const QString kBoth = " [Stage not homed.   Hardware error.] red ";

class TestStage : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowRig> r;

private slots:
    // Each test: a window whose link is open on a pty without the set-up; ticks are manual.
    void init()
    {
        r.reset(new WindowRig);
        if (!r->ptyOpen)
            QSKIP("no pseudo-terminal available");
        QVERIFY(r->OpenQuietly());
    }

    // A tick draws what the table holds, then asks for the next values. Tags: the replies.
    void polling_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::newRow("status_0 pos_12345") << "Idle Run black [] black 12.345";
        QTest::newRow("status_3 pos_-500") << "Error Stop red [] black -0.5";
        QTest::newRow("status_4 pos_0") << "Idle Run black [Stage not homed.   ] black 0";
        QTest::newRow("status_12 pos_1e300") << "Idle Run black" + kBoth + "1e+297";
        QTest::newRow("status_1.9 pos_-1e300") << "Moving Stop black [] black -1e+297";
        QTest::newRow("status_1e300 pos_nan") << "Error Stop red" + kBoth + "0";
        QTest::newRow("status_-1e300") << "Idle Run black [] black 0.777";
        QTest::newRow("status_nan") << "Idle Run black [] black 0.777";
    }
    void polling()
    {
        r->p.posOffset() = 5.0;  // the read-out is absolute
        r->p.serial()->ProcessBytes("status_15\npos_777\n");
        QVERIFY(r->OpenQuietly(false));
        r->w.SendRequests();  // closed: sends nothing
        QVERIFY(r->OpenQuietly());
        r->w.SendRequests();
        r->p.serial()->ProcessBytes(AsLines(QTest::currentDataTag()));
        QCOMPARE(Shown(), "Error Stop red" + kBoth + "0.777");  // drawn, the replies not yet
        r->w.SendRequests();
        QTEST(Shown(), "shown");
        QTRY_COMPARE(r->pty.Received(), AsLines("?status ?pos ?refPos").repeated(2));
    }

    // The connection set-up (tags: the replies): the queries, then the refresh 500 ms later
    // loads the replies with the link muted; only a clamp to a new maximum is sent after them.
    void connection_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::newRow("type_1 sn_1234.0")
            << "Type: Rotation 11 2500 13000 13000 6000 SN: 1234 rad|speed_2500\n";
        const QString kept = "Type: Linear 00 8000 40000 40000 6000 SN: ";  // unknown: limits kept
        QTest::newRow("type_1e300 sn_1e300") << kept + "2147483647 |";
        QTest::newRow("type_-1e300 sn_-1e300") << kept + "-2147483648 |";
        QTest::newRow("type_nan sn_nan") << kept + "0 mm|";
    }
    void connection()
    {
        QFETCH(QString, shown);
        QVERIFY(r->OpenQuietly(false));
        r->p.serial()->OpenPort(true);  // as the start-up discovery and the connected box do
        r->pty.Write(AsLines("pos_12345 status_0 speed_3000 accel_8000 decel_6000 "
                             + QString(QTest::currentDataTag())));
        const QString queries = AsLines("?pos ?refPos ?status ?home ?run ?type ?sn ?fw ?speed "
                                        "?accel ?decel ?holdTorque");
        QTRY_COMPARE(Identity() + "|" + QString(r->pty.Received()).remove(queries), shown);
    }

    // Steps, after the replies are drawn: "name=value" sets a slider or line edit,
    // "name:text" checks a text, "name" clicks a button or presses Return in a line edit.
    void commands_data()
    {
        for (const char *column : {"replies", "steps", "sent"})
            QTest::addColumn<QString>(column);
        auto row = [](const char *name, const char *replies, const char *steps, const char *sent) {
            QTest::newRow(name) << replies << steps << sent;
        };
        row("Go truncates", "", "posLineEdit=1.005 goButton", "!pos_1004");
        row("step", "", "posLineEdit=0.9995 rightStepButton posLineEdit:1.0005", "!pos_1001");
        row("Set, Go, home, Go", "pos_2000", "PosSetButton posLineEdit=0.5 goButton HomingButton "
            "goButton", "!pos_2500 !home_1 !pos_0");  // homing clears the offset
        row("saturated", "pos_1e300", "PosSetButton posLineEdit=1 goButton", "!pos_2147483647");
        row("reference", "pos_2000", "PosSetButton RefLineEdit=-1.5 RefSetButton GoToRefButton "
            "posLineEdit:-1.5", "refPos_-1500 !gotoRef_1");  // shown absolute, as stored
        row("run, backwards", "status_4", "RunButton backwards_cBox RunButton", "!run_-1 !run_1");
        row("stop", "status_1", "backwards_cBox RunButton", "!run_0");
        // Decel first, dragged along by the label slot; the second time it is already there.
        row("accel", "", "AccelSlider=20000 DecelSlider=25000 AccelSlider=25000",
            "decel_20000 accel_20000 decel_25000 accel_25000");
    }
    void commands()
    {
        QFETCH(QString, replies);
        QFETCH(QString, steps);
        QFETCH(QString, sent);
        r->p.SetStageType(1);  // Run is enabled on rotation stages only
        r->p.serial()->ProcessBytes(AsLines(replies));
        r->w.UpdateUi();
        for (const QString &step : steps.split(' ')) {
            const QString name = step.section(QRegularExpression("[=:]"), 0, 0);
            const QString value = step.mid(name.size() + 1);
            QWidget *target = r->w.findChild<QWidget *>(name);
            if (step.contains('='))
                target->setProperty(target->inherits("QSlider") ? "value" : "text", value);
            else if (step.contains(':'))
                QCOMPARE(target->property("text").toString(), value);
            else  // Return in a line edit, Space on a button
                QTest::keyClick(target, name.endsWith("Edit") ? Qt::Key_Return : Qt::Key_Space);
        }
        QTRY_COMPARE(r->pty.Received(), AsLines(sent));
    }

private:
    QByteArray AsLines(QString words) { return words.replace(' ', '\n').toLatin1() + '\n'; }
    // Status radio button, Run text, colours of position and bar, bar message, position.
    QString Shown() const
    {
        const MainWindowUi *ui = r->ui;
        auto tint = [](QWidget *x) { return x->styleSheet().contains("red") ? " red" : " black"; };
        return ui->buttonGroup->checkedButton()->text() + " " + ui->RunButton->text()
            + tint(ui->AbsolutePos_Label) + " [" + ui->statusbar->currentMessage() + "]"
            + tint(ui->statusbar) + ui->AbsolutePos_Label->text().remove("Absolute position:");
    }
    // Type, Run and Backwards enabled, maxima, decel (reported, not accel's), serial, unit.
    QString Identity() const
    {
        const MainWindowUi *ui = r->ui;
        return QString("%1 %2%3 %4 %5 %6 %7 %8 %9").arg(ui->typeLabel->text())
            .arg(ui->RunButton->isEnabled()).arg(ui->backwards_cBox->isEnabled())
            .arg(ui->SpeedSlider->maximum()).arg(ui->AccelSlider->maximum())
            .arg(ui->DecelSlider->maximum()).arg(ui->DecelSlider->value())
            .arg(ui->snLabel->text()).arg(r->p.unitText());
    }
};

QTEST_MAIN(TestStage)
#include "test_stage.moc"
