// The window on a pty peer: its form's validators, stage operation (controller values beyond int
// included), what scripts read of it, the settings and window menus and About.

#include "app/dialogs.h"
#include "app/windowstagecontrol.h"
#include "support/testsupport.h"
#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>

namespace {
QByteArray AsLines(QString words) { return words.replace(' ', '\n').toLatin1() + '\n'; }

// One operator action: a value typed into a line edit or set on a slider; without a value, Space
// on a button or Return in a line edit. No widget: the value arrives as replies and is drawn.
struct Act
{
    Act(const QString &widget, const QString &value = QString()) : widget(widget), value(value) {}
    QString widget, value;
};
struct Command
{
    const char *tag;
    QByteArray replies;  // drawn before the actions
    QList<Act> acts;
    QStringList read;  // the widgets whose texts are read back afterwards
    QString shown;
    QByteArray sent;
};
}  // namespace
Q_DECLARE_METATYPE(Command)

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
        QVERIFY(r->ptyOpen);
        QVERIFY(r->OpenQuietly());
        warnings.clear();
        static const bool linkAlive = r->CarriesLines();
        QVERIFY2(linkAlive, "no line crosses the link between the window and its pty");
    }

    // Typed, then Return: what the field keeps, and whether Return reached the window.
    void validators_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("returned");  // only when acceptable
        QTest::newRow("comma, exponent, 4th decimal")
            << "RefLineEdit" << "-1,e0.9995" << "-10.999" << true;
        QTest::newRow("speed above 100") << "VelBLineEdit" << "2,e00.0123" << "200.012" << false;
        QTest::newRow("times take two decimals") << "TimeDLineEdit" << "1.255" << "1.25" << true;
    }
    void validators()
    {
        QFETCH(QString, edit);
        QFETCH(QString, typed);
        auto *line = r->w.findChild<QLineEdit *>(edit);
        QSignalSpy returns(line, &QLineEdit::returnPressed);
        line->clear();
        QTest::keyClicks(line, typed + '\r');
        QTEST(line->text(), "text");
        QTEST(returns.count() == 1, "returned");
    }

    // Unconnected, a poll neither sends nor draws: the start's "not homed" stays up.
    void pollUnconnected()
    {
        QVERIFY(r->OpenQuietly(false));
        r->p.serial()->ProcessBytes("status_0\n");
        r->w.SendRequests();
        QCOMPARE(r->ui->statusbar->currentMessage(), QString("Stage not homed.   "));
    }

    // A tick draws what the table holds, then asks for the next values.
    void polling_data()
    {
        QTest::addColumn<QByteArray>("replies");
        QTest::addColumn<QString>("state");  // the checked radio button
        QTest::addColumn<QString>("run");  // the Run button's text
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("barRed");
        QTest::addColumn<bool>("positionRed");
        QTest::addColumn<QString>("position");
        const QString both = "Stage not homed.   Hardware error.";
        QTest::newRow("idle") << QByteArray("status_0\npos_12345\n") << "Idle" << "Run" << ""
                              << false << false << "12.345";
        QTest::newRow("not homed") << QByteArray("status_4\npos_0\n") << "Idle" << "Run"
                                   << "Stage not homed.   " << false << false << "0";
        QTest::newRow("hardware error, huge position") << QByteArray("status_12\npos_1e300\n")
            << "Idle" << "Run" << both << true << false << "1e+297";
        QTest::newRow("moving, truncated") << QByteArray("status_1.9\npos_-1e300\n") << "Moving"
                                           << "Stop" << "" << false << false << "-1e+297";
        QTest::newRow("saturated status, NaN position") << QByteArray("status_1e300\npos_nan\n")
            << "Error" << "Stop" << both << true << true << "0";
    }
    void polling()
    {
        QFETCH(QByteArray, replies);
        r->p.posOffset() = 5.0;  // the read-out is absolute
        r->p.serial()->ProcessBytes("status_15\npos_777\n");
        r->w.SendRequests();
        r->p.serial()->ProcessBytes(replies);
        QCOMPARE(r->ui->buttonGroup->checkedButton()->text(), QString("Error"));  // not yet
        r->w.SendRequests();
        QTEST(r->ui->buttonGroup->checkedButton()->text(), "state");
        QTEST(r->ui->RunButton->text(), "run");
        QTEST(r->ui->statusbar->currentMessage(), "message");
        QTEST(r->ui->statusbar->styleSheet().contains("red"), "barRed");
        QTEST(r->ui->AbsolutePos_Label->styleSheet().contains("red"), "positionRed");
        QTEST(r->ui->AbsolutePos_Label->text().section(": ", 1), "position");
        QTRY_COMPARE(r->pty.Received(), QByteArray("?status\n?pos\n?refPos\n").repeated(2));
    }

    // Connecting: the queries, then the replies loaded muted; only clamps are sent after.
    void connection_data()
    {
        QTest::addColumn<QByteArray>("identity");  // type and serial number replies
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("run");  // Run and Backwards enabled
        QTest::addColumn<int>("maxSpeed");
        QTest::addColumn<int>("maxAccel");  // decel's too
        QTest::addColumn<QString>("sn");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QByteArray>("sent");  // after the queries
        QTest::newRow("rotation: speed clamped") << QByteArray("type_1\nsn_1234.0\n")
            << "Rotation" << true << 2500 << 13000 << "1234" << "rad" << QByteArray("speed_2500\n");
        QTest::newRow("linear") << QByteArray("type_0\nsn_1\n") << "Linear" << false << 8000
                                << 40000 << "1" << "mm" << QByteArray();
        QTest::newRow("lifting") << QByteArray("type_2\nsn_7\n") << "Lifting" << false << 4000
                                 << 20000 << "7" << "mm" << QByteArray();
        // Unknown types keep the limits and the label of the last known one.
        QTest::newRow("first unknown type") << QByteArray("type_3\nsn_5\n") << "Linear" << false
                                            << 8000 << 40000 << "5" << "" << QByteArray();
        QTest::newRow("saturated") << QByteArray("type_1e300\nsn_1e300\n") << "Linear" << false
                                   << 8000 << 40000 << "2147483647" << "" << QByteArray();
        QTest::newRow("NaN is 0") << QByteArray("type_nan\nsn_nan\n") << "Linear" << false << 8000
                                  << 40000 << "0" << "mm" << QByteArray();
    }
    void connection()
    {
        QFETCH(QByteArray, identity);
        QFETCH(QString, sn);
        QFETCH(QByteArray, sent);
        QVERIFY(r->OpenQuietly(false));
        r->p.serial()->OpenPort(true);  // as the start-up discovery and the connected box do
        r->pty.Write("speed_3000\naccel_8000\ndecel_6000\npos_1500\nrefPos_-250\n" + identity);
        const QByteArray queries = "?pos\n?refPos\n?status\n?home\n?run\n?type\n?sn\n?fw\n?speed\n"
                                   "?accel\n?decel\n?holdTorque\n";
        QTRY_COMPARE(r->ui->snLabel->text().section(' ', 1), sn);  // loaded
        QTRY_COMPARE(r->pty.Received(), queries + sent);
        QTEST(r->ui->typeLabel->text().section(' ', 1), "type");
        QTEST(r->ui->RunButton->isEnabled(), "run");
        QTEST(r->ui->backwards_cBox->isEnabled(), "run");
        QTEST(r->ui->SpeedSlider->maximum(), "maxSpeed");
        QTEST(r->ui->AccelSlider->maximum(), "maxAccel");
        QTEST(r->ui->DecelSlider->maximum(), "maxAccel");
        QCOMPARE(r->ui->DecelSlider->value(), 6000);  // reported, not dragged along by accel
        QTEST(r->ui->PosGroupBox->title().section('(', 1).chopped(1), "unit");
        QCOMPARE(r->ui->posLineEdit->text(), QString("1.5"));  // absolute, in display units
        QCOMPARE(r->ui->RefLabel->text(), QString("Current value: -0.25"));
    }

    // What the operator's controls send, after the replies are drawn; shown: what they then
    // read in the window.
    void commands_data()
    {
        QTest::addColumn<Command>("command");
        const Command rows[] = {
            {"Go truncates, a step rounds and is shown", "", {{"posLineEdit", "1.005"},
             {"goButton"}, {"posLineEdit", "0.9995"}, {"rightStepButton"}}, {"posLineEdit"},
             "1.0005", "!pos_1004 !pos_1001"},
            {"a step rounds halves upward below zero too", "", {{"posLineEdit", "-0.0035"},
             {"rightStepButton"}}, {"posLineEdit"}, "-0.0025", "!pos_-2"},
            {"steps of 0.02 and 0.001", "", {{"posLineEdit", "1"}, {"leftLeftStepButton"},
             {"leftStepButton"}, {"rightRightStepButton"}}, {"posLineEdit"}, "0.999",
             "!pos_980 !pos_979 !pos_999"},
            {"homing clears the offset", "pos_2000\n", {{"PosSetButton"}, {"posLineEdit", "0.5"},
             {"goButton"}, {"HomingButton"}, {"goButton"}}, {"Offset_Label"}, "Offset: 0",
             "!pos_2500 !home_1 !pos_0"},
            {"Unset shows the absolute position", "pos_2000\n", {{"PosSetButton"},
             {"UnsetButton"}, {"goButton"}}, {"posLineEdit"}, "2", "!pos_2000"},
            {"offset position saturates", "pos_1e300\n", {{"PosSetButton"}, {"posLineEdit", "1"},
             {"goButton"}}, {}, "", "!pos_2147483647"},
            {"reference, shown absolute", "pos_2000\n", {{"PosSetButton"}, {"RefLineEdit", "-1.5"},
             {"RefSetButton"}, {"GoToRefButton"}, {"RefLineEdit", "0.25"}, {"RefLineEdit"}},
             {"posLineEdit"}, "-1.5", "refPos_-1500 !gotoRef_1 refPos_250"},
            {"a large reference as a whole number", "", {{"RefLineEdit", "1000"},
             {"RefSetButton"}}, {"RefLabel"}, "Current value: 1000", "refPos_1000000"},
            {"Run, backwards", "status_4\n", {{"RunButton"}, {"backwards_cBox"}, {"RunButton"}},
             {}, "", "!run_-1 !run_1"},
            {"Run while moving stops", "status_1\n", {{"backwards_cBox"}, {"RunButton"}}, {}, "",
             "!run_0"},
            {"Run after a run ended starts anew", "status_1\n", {{"", "status_0\n"},
             {"RunButton"}}, {"RunButton"}, "Run", "!run_-1"},
            // Decel first, dragged along by the label slot; the second time it is already there.
            {"accel drags decel", "", {{"AccelSlider", "20000"}, {"DecelSlider", "25000"},
             {"AccelSlider", "25000"}}, {"DecelLabel"}, "25.0",
             "decel_20000 accel_20000 decel_25000 accel_25000"},
            // Labels in display units (thousandths shown as units), the torque as it is.
            {"slider labels", "", {{"SpeedSlider", "1500"}, {"AccelSlider", "7500"},
             {"DecelSlider", "9500"}, {"TrqSlider", "35"}}, {"VelLabel", "AccelLabel",
             "DecelLabel", "TrqLabel"}, "1.5 7.5 9.5 35",
             "speed_1500 decel_7500 accel_7500 decel_9500 holdTorque_35"},
        };
        for (const Command &c : rows)
            QTest::newRow(c.tag) << c;
    }
    void commands()
    {
        QFETCH(Command, command);
        r->p.SetStageType(1);  // Run is enabled on rotation stages only
        r->p.serial()->ProcessBytes(command.replies);
        r->w.UpdateUi();
        for (const Act &act : command.acts) {
            QWidget *w = act.widget.isEmpty() ? nullptr : r->w.findChild<QWidget *>(act.widget);
            if (!w) {
                r->p.serial()->ProcessBytes(act.value.toLatin1());
                r->w.UpdateUi();
            } else if (auto *slider = qobject_cast<QSlider *>(w)) {
                slider->setValue(act.value.toInt());
            } else if (!act.value.isNull()) {
                qobject_cast<QLineEdit *>(w)->setText(act.value);
            } else {
                QTest::keyClick(w, w->inherits("QLineEdit") ? Qt::Key_Return : Qt::Key_Space);
            }
        }
        QStringList shown;
        for (const QString &name : command.read)
            shown << r->w.findChild<QWidget *>(name)->property("text").toString();
        QCOMPARE(shown.join(' '), command.shown);
        QTRY_COMPARE(r->pty.Received(), AsLines(command.sent));
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
        QCOMPARE(loaded.Load(openAnswer), 0);
        QCOMPARE(saved.Load(saveAnswer), 0);
        QCOMPARE(ChangedFields(loaded, saved).join(' '), QString("posB=0"));
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        saveAnswer.clear();  // cancelled: nothing written, nothing said
        r->ui->actionSave_Settings->trigger();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), files);
        QCOMPARE(warnings, QStringList());
        saveAnswer = dir.filePath("pipe");  // refused, and the warning says why
        QCOMPARE(mkfifo(QFile::encodeName(saveAnswer).constData(), 0600), 0);
        r->ui->actionSave_Settings->trigger();
        QCOMPARE(warnings, QStringList("The settings could not be saved to " + saveAnswer
                                       + ":\nNot a regular file"));
    }

    // A null file cancels, an empty one is missing.
    void load_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<double>("offset");
        QTest::addColumn<QString>("reason");  // the warning's last line
        QTest::newRow("cancelled") << QString() << QByteArray() << 1.5 << "";
        QTest::newRow("unreadable") << "" << QByteArray() << 1.5 << "No such file or directory";
        QTest::newRow("decel last, same speed not sent")
            << "maxSpeed=400\nrefPos=-1.5\naccel=12000\ndecel=15000"
            << AsLines("refPos_-1500 decel_12000 accel_12000 decel_15000") << 0.0 << "";
        QTest::newRow("beyond the maxima") << "maxSpeed=99999\nholdTorque=1e12\noffset=2"
                                           << AsLines("refPos_0 speed_8000 holdTorque_75") << 2.0
                                           << "";
        const QString atLimit = QString("offset=2\n").leftJustified(1 << 20, '#');  // 1 MiB
        QTest::newRow("1 MiB: read") << atLimit << AsLines("refPos_0") << 2.0 << "";
        QTest::newRow("1 MiB and a byte: refused") << atLimit + "#" << QByteArray() << 1.5
                                                   << "File too large for a settings file";
    }
    void load()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, sent);
        openAnswer = file.isNull() ? QString() : dir.filePath(QTest::currentDataTag());
        QVERIFY(file.isEmpty() || WriteFileBytes(openAnswer, file.toLatin1()));
        r->p.posOffset() = 1.5;
        r->ui->actionLoad_Settings->trigger();
        r->p.serial()->WriteLn("|");  // arrives after everything the load sent
        QTRY_COMPARE(r->pty.Received(), sent + "|\n");
        QTEST(r->p.posOffset(), "offset");
        QTEST(warnings.isEmpty() ? QString() : warnings.last().section('\n', -1), "reason");
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

    // What scripts read of the window: the table and the sliders, in display units.
    void snapshot()
    {
        WindowStageControl_c control(&r->w);
        r->p.serial()->ProcessBytes("type_1\nstatus_4\nsn_77\nfw_123\npos_1500\nrefPos_-250\n");
        r->w.UpdateUiAfterConnect();  // as half a second after connecting
        r->ui->SpeedSlider->setValue(1500);
        r->ui->AccelSlider->setValue(12000);
        const StageSnapshot s = control.Snapshot();
        const QString got = QString("connected=%1 type=%2 %3 sn=%4 fw=%5 pos=%6 ref=%7 homed=%8 "
            "error=%9 speed=%10 decel=%11").arg(s.connected).arg(s.stageType).arg(s.unit)
            .arg(s.serialNumber).arg(s.firmware).arg(s.position).arg(s.reference).arg(s.homed)
            .arg(s.error).arg(s.speed).arg(s.decel);
        QCOMPARE(got, QString("connected=1 type=1 rad sn=77 fw=1.23 pos=1.5 ref=-0.25 homed=0 "
                              "error=0 speed=1.5 decel=12"));
    }

    // The window takes the name typed; an empty one or a cancelled dialog leaves it as it is.
    void nameWindow_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("title");
        QTest::newRow("named") << "Bench 2" << true << "Bench 2";
        QTest::newRow("empty") << "" << true << "Movexa";
        QTest::newRow("cancelled") << "Bench 2" << false << "Movexa";
    }
    void nameWindow()
    {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QInputDialog *>(qApp->activeModalWidget());
            dialog->setTextValue(typed);
            accepted ? dialog->accept() : dialog->reject();
        });
        r->ui->actionName_Window->trigger();
        QTEST(r->w.windowTitle(), "title");
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
