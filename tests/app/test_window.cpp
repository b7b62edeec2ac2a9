// The window on a pty peer: its form's validators, stage operation (controller values beyond int
// included), the settings menu and About.

#include "app/dialogs.h"
#include "support/testsupport.h"
#include <QtTest>
#include <QtWidgets>

const QString kBoth = " [Stage not homed.   Hardware error.] red ";
static const char *Tint(QWidget *x) { return x->styleSheet().contains("red") ? " red" : " black"; }
static QByteArray AsLines(QString words) { return words.replace(' ', '\n').toLatin1() + '\n'; }

class TestWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowRig> r;
    QTemporaryDir dir;
    QString saveAnswer = dir.filePath("out.txt"), openAnswer;  // what the file dialogs return
    QStringList warnings;

private slots:
    void initTestCase()
    {
        FilterPlatformNoise();
        SetFileDialogs([&](auto &) { return saveAnswer; }, [&](auto &) { return openAnswer; });
        SetWarningBox([this](QWidget *, const QString &, const QString &t) { warnings << t; });
        QLocale::setDefault(QLocale(QLocale::German));  // a decimal comma must not leak out
    }
    // Each test: a window whose link is open on a pty without the set-up; ticks are manual.
    // A dead link would have every case wait out its bounds, minutes in all: the first case
    // proves that lines cross, and if they do not, every case fails at once.
    void init()
    {
        r.reset(new WindowRig);
        QVERIFY(r->ptyOpen && r->OpenQuietly());
        warnings.clear();
        static const bool linkAlive = r->CarriesLines();
        QVERIFY2(linkAlive, "no line crosses the link between the window and its pty");
    }

    void validators_data()
    {
        QTest::addColumn<QString>("shown");  // tags: the edit, what is typed
        QTest::newRow("RefLineEdit -1,e0.9995") << "-10.999 sent";  // comma, exponent, 4th decimal
        QTest::newRow("VelBLineEdit 2,e00.0123") << "200.012 held";  // Return only when acceptable
        QTest::newRow("TimeDLineEdit 1.255") << "1.25 sent";  // times take two decimals
    }
    void validators()
    {
        const QStringList tag = QString(QTest::currentDataTag()).split(' ');
        auto *line = r->w.findChild<QLineEdit *>(tag[0]);
        QSignalSpy returns(line, &QLineEdit::returnPressed);
        line->clear();
        QTest::keyClicks(line, tag[1] + '\r');
        QTEST(line->text() + (returns.count() == 1 ? " sent" : " held"), "shown");
    }

    // A tick draws what the table holds, then asks for the next values. Tags: the replies.
    void polling_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::newRow("status_0 pos_12345") << "Idle Run black [] black 12.345";
        QTest::newRow("status_4 pos_0") << "Idle Run black [Stage not homed.   ] black 0";
        QTest::newRow("status_12 pos_1e300") << "Idle Run black" + kBoth + "1e+297";
        QTest::newRow("status_1.9 pos_-1e300") << "Moving Stop black [] black -1e+297";
        QTest::newRow("status_1e300 pos_nan") << "Error Stop red" + kBoth + "0";
        QTest::newRow("status_nan") << "Idle Run black [] black 0.777";  // 0, not ignored
    }
    void polling()
    {
        // Status radio button, Run text, colours of position and bar, bar message, position.
        auto shown = [ui = r->ui] {
            return ui->buttonGroup->checkedButton()->text() + " " + ui->RunButton->text()
                + Tint(ui->AbsolutePos_Label) + " [" + ui->statusbar->currentMessage() + "]"
                + Tint(ui->statusbar) + ui->AbsolutePos_Label->text().remove("Absolute position:");
        };
        r->p.posOffset() = 5.0;  // the read-out is absolute
        r->p.serial()->ProcessBytes("status_15\npos_777\n");
        QVERIFY(r->OpenQuietly(false));
        r->w.SendRequests();  // closed: sends nothing
        QVERIFY(r->OpenQuietly());
        r->w.SendRequests();
        r->p.serial()->ProcessBytes(AsLines(QTest::currentDataTag()));
        QCOMPARE(shown(), "Error Stop red" + kBoth + "0.777");  // drawn, the replies not yet
        r->w.SendRequests();
        QTEST(shown(), "shown");
        QTRY_COMPARE(r->pty.Received(), AsLines("?status ?pos ?refPos").repeated(2));
    }

    // Connecting: the queries, then the replies (tags) loaded muted; only clamps are sent after.
    void connection_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::newRow("type_1 sn_1234.0")
            << "Type: Rotation 11 2500 13000 13000 6000 SN: 1234 Position (rad)|speed_2500\n";
        QTest::newRow("type_0 sn_1")
            << "Type: Linear 00 8000 40000 40000 6000 SN: 1 Position (mm)|";
        QTest::newRow("type_2 sn_7")
            << "Type: Lifting 00 4000 20000 20000 6000 SN: 7 Position (mm)|";
        const QString kept = "Type: Linear 00 8000 40000 40000 6000 SN: ";  // unknown: limits kept
        QTest::newRow("type_3 sn_5") << kept + "5 Position ()|";  // the first type without limits
        QTest::newRow("type_1e300 sn_1e300") << kept + "2147483647 Position ()|";
        QTest::newRow("type_nan sn_nan") << kept + "0 Position (mm)|";
    }
    void connection()
    {
        QFETCH(QString, shown);
        // Type, Run and Backwards enabled, maxima, decel (reported, not accel's), serial, a title
        // with the unit.
        auto identity = [ui = r->ui] {
            return QString("%1 %2%3 %4 %5 %6 %7 %8 %9").arg(ui->typeLabel->text())
                .arg(ui->RunButton->isEnabled()).arg(ui->backwards_cBox->isEnabled())
                .arg(ui->SpeedSlider->maximum()).arg(ui->AccelSlider->maximum())
                .arg(ui->DecelSlider->maximum()).arg(ui->DecelSlider->value())
                .arg(ui->snLabel->text()).arg(ui->PosGroupBox->title());
        };
        QVERIFY(r->OpenQuietly(false));
        r->p.serial()->OpenPort(true);  // as the start-up discovery and the connected box do
        const QString tag = QTest::currentDataTag();
        r->pty.Write(AsLines("speed_3000 accel_8000 decel_6000 pos_1500 refPos_-250 " + tag));
        const QString queries = AsLines("?pos ?refPos ?status ?home ?run ?type ?sn ?fw ?speed "
                                        "?accel ?decel ?holdTorque");
        QTRY_COMPARE(identity() + "|" + QString(r->pty.Received()).remove(queries), shown);
        QCOMPARE(r->ui->posLineEdit->text() + " " + r->ui->RefLabel->text(),
                 QString("1.5 Current value: -0.25"));  // absolute, in display units
    }

    // Tags: what is sent. Steps, after the replies are drawn: "name=value" sets a slider or line
    // edit, "name:text" checks a text, "name" clicks a button or presses Return in a line edit.
    void commands_data()
    {
        QTest::addColumn<QString>("replies");
        QTest::addColumn<QString>("steps");
        QTest::newRow("!pos_1004 !pos_1001") << ""  // Go truncates; a step is shown
            << "posLineEdit=1.005 goButton posLineEdit=0.9995 rightStepButton posLineEdit:1.0005";
        QTest::newRow("!pos_980 !pos_979 !pos_999")  // steps of 0.02 and 0.001
            << "" << "posLineEdit=1 leftLeftStepButton leftStepButton rightRightStepButton";
        QTest::newRow("!pos_2500 !home_1 !pos_0")  // homing clears the offset
            << "pos_2000" << "PosSetButton posLineEdit=0.5 goButton HomingButton goButton";
        QTest::newRow("!pos_2000")  // Unset clears the offset and shows the absolute position
            << "pos_2000" << "PosSetButton UnsetButton posLineEdit:2 goButton";
        QTest::newRow("!pos_2147483647") << "pos_1e300" << "PosSetButton posLineEdit=1 goButton";
        QTest::newRow("refPos_-1500 !gotoRef_1 refPos_250") << "pos_2000"  // shown absolute
            << "PosSetButton RefLineEdit=-1.5 RefSetButton GoToRefButton posLineEdit:-1.5 "
               "RefLineEdit=0.25 RefLineEdit";
        QTest::newRow("!run_-1 !run_1") << "status_4" << "RunButton backwards_cBox RunButton";
        QTest::newRow("!run_0") << "status_1" << "backwards_cBox RunButton";  // stop
        // Decel first, dragged along by the label slot; the second time it is already there.
        QTest::newRow("decel_20000 accel_20000 decel_25000 accel_25000")
            << "" << "AccelSlider=20000 DecelSlider=25000 AccelSlider=25000";
        // Labels in display units (thousandths shown as units), the torque as it is.
        QTest::newRow("speed_1500 decel_7500 accel_7500 decel_9500 holdTorque_35") << ""
            << "SpeedSlider=1500 VelLabel:1.5 AccelSlider=7500 AccelLabel:7.5 DecelLabel:7.5 "
               "DecelSlider=9500 DecelLabel:9.5 AccelLabel:7.5 TrqSlider=35 TrqLabel:35";
    }
    void commands()
    {
        QFETCH(QString, replies);
        QFETCH(QString, steps);
        r->p.SetStageType(1);  // Run is enabled on rotation stages only
        r->p.serial()->ProcessBytes(AsLines(replies));
        r->w.UpdateUi();
        for (const QString &step : steps.split(' ')) {
            const QStringList part = step.split(QRegularExpression("[=:]"));  // name, value
            QWidget *target = r->w.findChild<QWidget *>(part[0]);
            if (step.contains('='))
                target->setProperty(target->inherits("QSlider") ? "value" : "text", part[1]);
            else if (step.contains(':'))
                QCOMPARE(part[0] + ":" + target->property("text").toString(), step);
            else  // Return in a line edit, Space on a button
                QTest::keyClick(target, step.endsWith("Edit") ? Qt::Key_Return : Qt::Key_Space);
        }
        QTRY_COMPARE(r->pty.Received(), AsLines(QTest::currentDataTag()));
    }

    // Loaded, then saved: each field carried both ways; a cancelled save; a path that cannot be.
    void loadThenSave()
    {
        // Every field away from the form's value, so each widget must carry it both ways.
        const QString body = "offset=-3.25\nrefPos=12.5\nmaxSpeed=1200\naccel=12000\n"
            "decel=15000\nholdTorque=35\nposA=1.5\nspeedA=3\ntimeA=0.25\nuseA=0\nposB=-7.125\n"
            "speedB=0.5\ntimeB=2\nuseB=0\nposC=7\nspeedC=1\ntimeC=3\nuseC=2\nposD=100\n"
            "speedD=1.25\ntimeD=10\nuseD=2\nloopCount=7\nrunLoopCont=2\n";
        openAnswer = dir.filePath("in.txt");
        QVERIFY(WriteFileBytes(openAnswer, "# Movexa\n\n" + body.toLatin1()));
        r->ui->actionLoad_Settings->trigger();
        QCOMPARE(r->ui->RefLabel->text() + "|" + r->ui->Offset_Label->text(),
                 QString("Current value: 12.5|Offset: -3.25"));
        r->ui->RefLineEdit->setText("99");  // typed, not confirmed: not saved
        r->ui->PosBLineEdit->setText("x");  // not a number: saved as 0
        r->ui->actionSave_Settings->trigger();
        AppSettings_c loaded, saved;  // the file's format is the settings suite's
        QVERIFY(loaded.Load(openAnswer) == 0 && saved.Load(saveAnswer) == 0);
        QCOMPARE(ChangedFields(loaded, saved).join(' '), QString("posB=0"));
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        saveAnswer.clear();  // cancelled: nothing written, nothing said
        r->ui->actionSave_Settings->trigger();
        QCOMPARE((QDir(dir.path()).entryList(QDir::Files) + warnings).join(", "), files.join(", "));
        saveAnswer = dir.filePath("in.txt/settings.txt");  // its "directory" is a file
        r->ui->actionSave_Settings->trigger();
        QVERIFY(warnings.size() == 1 && warnings[0].contains(saveAnswer));
    }

    // A null file cancels, an empty one is missing. Result: what was sent | offset [warnings].
    void load_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("result");
        QTest::newRow("cancelled") << QString() << "| 1.5 []";
        QTest::newRow("unreadable") << "" << "| 1.5 [No such file or directory]";
        QTest::newRow("decel last") << "maxSpeed=400\nrefPos=-1.5\naccel=12000\ndecel=15000"
            << "refPos_-1500 decel_12000 accel_12000 decel_15000 | 0 []";  // same speed: not sent
        QTest::newRow("beyond the maxima") << "maxSpeed=99999\nholdTorque=1e12\noffset=2"
                                           << "refPos_0 speed_8000 holdTorque_75 | 2 []";
        const QString atLimit = QString("offset=2\n").leftJustified(1 << 20, '#');  // 1 MiB
        QTest::newRow("1 MiB: read") << atLimit << "refPos_0 | 2 []";
        QTest::newRow("1 MiB and a byte: refused")
            << atLimit + "#" << "| 1.5 [File too large for a settings file]";
    }
    void load()
    {
        QFETCH(QString, file);
        openAnswer = file.isNull() ? QString() : dir.filePath(QTest::currentDataTag());
        QVERIFY(file.isEmpty() || WriteFileBytes(openAnswer, file.toLatin1()));
        r->p.posOffset() = 1.5;
        r->ui->actionLoad_Settings->trigger();
        r->p.serial()->WriteLn("|");  // arrives after everything the load sent
        QTRY_VERIFY(r->pty.Received().endsWith("|\n"));
        QStringList reasons;  // the last line of each warning
        for (const QString &warning : warnings)
            reasons << warning.section('\n', -1);
        QTEST(QString(r->pty.Received()).replace('\n', ' ') + QString::number(r->p.posOffset())
                  + " [" + reasons.join(", ") + "]", "result");
    }

    // About gives the firmware's hundredths with a point, whatever the locale.
    void about()
    {
        r->p.serial()->ProcessBytes("fw_1234\n");
        QString shown;
        QTimer::singleShot(0, [&shown] {  // from the box's own event loop
            auto *box = qobject_cast<QMessageBox *>(qApp->activeModalWidget());
            shown = box->text();
            box->accept();
        });
        r->ui->actionAbout->trigger();
        QCOMPARE(shown, QString("Software Version 1.10\nFirmware Version 12.34"));
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
