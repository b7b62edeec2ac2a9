// The station sequence driven through the window, with the commands read at
// the far end of a pseudo-terminal.

#include "app/stagemath.h"
#include "link/numeric.h"
#include "support/testsupport.h"

#include <QtTest>
#include <QtWidgets>

#include <climits>

namespace {

const int kAccel = 40000;  // fast ramps keep every estimated move short
const int kSavedSpeed = 500;
const char *const kPos[4] = {"0.01", "0.02", "0.03", "0.04"};
const int kPosUnits[4] = {10, 20, 30, 40};
const char *const kSpeed[4] = {"1", "1.1", "1.2", "0.5"};
const int kSpeedUnits[4] = {1000, 1100, 1200, 500};
const int kWaitMs = 50;

}  // namespace

class TestLoopSequencer : public QObject
{
    Q_OBJECT

    struct Tick
    {
        bool active;   // the run goes on after this tick
        int interval;  // ms until the next one
        double atMs;
    };

    PtyMaster *pty = nullptr;
    ScopedPortList *ports = nullptr;
    MainWindow *window = nullptr;
    MainWindowUi *ui = nullptr;
    MainWindowProbe *probe = nullptr;
    QList<Tick> ticks;
    QElapsedTimer clock;

    QLineEdit *Field(const char *column, int station) const
    {
        const QString name = QString("%1%2LineEdit").arg(column).arg(QChar('A' + station));
        return window->findChild<QLineEdit *>(name);
    }
    QCheckBox *UseBox(int station) const
    {
        return window->findChild<QCheckBox *>(QString("use%1_cBox").arg(QChar('A' + station)));
    }
    void SetStation(int i, const QString &pos, const QString &speed, const QString &wait, bool used)
    {
        // setText, not typing: loaded settings arrive the same way, past the validators.
        Field("Pos", i)->setText(pos);
        Field("Vel", i)->setText(speed);
        Field("Time", i)->setText(wait);
        UseBox(i)->setChecked(used);
    }
    // Position and speed commands only; polling and start-up queries are left out.
    QList<QByteArray> Commands() const
    {
        QList<QByteArray> out;
        for (const QByteArray &line : Lines(pty->Received()))
            if (line.startsWith("!pos_") || line.startsWith("speed_"))
                out << line;
        return out;
    }
    void ClickLoopButton() { QTest::mouseClick(ui->LoopButton, Qt::LeftButton); }

private slots:
    void init()
    {
        pty = new PtyMaster;
        if (!pty->Open())
            QSKIP(qPrintable("no pseudo-terminal: " + pty->ErrorString()));
        ports = new ScopedPortList({PtyPortEntry(*pty)});
        window = new MainWindow;
        probe = new MainWindowProbe(window);
        ui = probe->ui();
        QVERIFY(probe->serial()->IsOpen());
        QCOMPARE(probe->loopPrevTarget(), 0);

        ticks.clear();
        clock.start();
        // Runs after LoopTimerFct, so it sees the interval the tick chose.
        connect(probe->loopTimer(), &QTimer::timeout, this, [this] {
            ticks << Tick{probe->loopTimer()->isActive(), probe->loopTimer()->interval(),
                          clock.nsecsElapsed() / 1e6};
        });

        ui->AccelSlider->setValue(kAccel);
        ui->DecelSlider->setValue(kAccel);
        ui->SpeedSlider->setValue(kSavedSpeed);
        for (int i = 0; i < 4; ++i)
            SetStation(i, kPos[i], kSpeed[i], QString::number(kWaitMs / 1000.0), false);
        QTRY_VERIFY(pty->Received().contains("speed_500\n"));
        pty->TakeReceived();
    }
    void cleanup()
    {
        delete probe;
        delete window;
        delete ports;
        delete pty;
        probe = nullptr;
        window = nullptr;
        ports = nullptr;
        pty = nullptr;
    }

    void stationSequence_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("continuous");
        QTest::addColumn<QString>("used");
        QTest::addColumn<QString>("commanded");
        QTest::addColumn<bool>("endsWithCommand");

        // C is the last station in use: the run waits out C's interval.
        QTest::newRow("count 1, A and C") << 1 << false << "AC" << "AC" << false;
        QTest::newRow("count 1, all four") << 1 << false << "ABCD" << "ABCD" << true;
        QTest::newRow("count 2, B and D") << 2 << false << "BD" << "BDBD" << true;
        QTest::newRow("count 0, A only") << 0 << false << "A" << "A" << true;
        QTest::newRow("count 0, C only") << 0 << false << "C" << "C" << true;
        // D runs at the saved speed: no speed command at all.
        QTest::newRow("count 0, D only") << 0 << false << "D" << "D" << true;
        QTest::newRow("count 1, none") << 1 << false << "" << "" << false;
        QTest::newRow("count 0, none") << 0 << false << "" << "" << false;
        QTest::newRow("continuous, none") << 3 << true << "" << "" << false;
    }
    void stationSequence()
    {
        QFETCH(int, count);
        QFETCH(bool, continuous);
        QFETCH(QString, used);
        QFETCH(QString, commanded);
        QFETCH(bool, endsWithCommand);

        for (int i = 0; i < 4; ++i)
            UseBox(i)->setChecked(used.contains(QChar('A' + i)));
        ui->LoopCountSlider->setValue(count);
        ui->LoopCheckBox->setChecked(continuous);

        QList<QByteArray> expected;
        QList<int> intervals;
        int slider = kSavedSpeed;
        int previous = 0;
        for (QChar c : commanded) {
            const int i = c.toLatin1() - 'A';
            QTest::ignoreMessage(QtDebugMsg, qPrintable(QString("Index:  %1").arg(i)));
            if (kSpeedUnits[i] != slider)
                expected << "speed_" + QByteArray::number(kSpeedUnits[i]);
            slider = kSpeedUnits[i];
            expected << "!pos_" + QByteArray::number(kPosUnits[i]);
            intervals << LoopIntervalMs(TravelTimeSeconds(kAccel, kAccel,
                                                          TargetDistance(kPosUnits[i], previous),
                                                          kSpeedUnits[i]),
                                        kWaitMs);
            previous = kPosUnits[i];
        }
        if (slider != kSavedSpeed)
            expected << "speed_500";

        ClickLoopButton();
        QCOMPARE(ui->LoopButton->text(), QString("Stop loop"));
        QCOMPARE(probe->loopStopped(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(probe->loopStopped(), 1, 20000);
        QCOMPARE(ui->LoopButton->text(), QString("Start loop"));
        QVERIFY(!probe->loopTimer()->isActive());
        QCOMPARE(ui->SpeedSlider->value(), kSavedSpeed);
        QTRY_COMPARE(Commands(), expected);

        QCOMPARE(ticks.size(), commanded.size() + (endsWithCommand ? 0 : 1));
        for (int k = 0; k + 1 < ticks.size(); ++k) {
            QVERIFY(ticks[k].active);
            QCOMPARE(ticks[k].interval, intervals[k]);
            // The next station (or the end) comes no earlier than the interval.
            QVERIFY2(ticks[k + 1].atMs - ticks[k].atMs >= ticks[k].interval - 1.0,
                     qPrintable(QString::number(ticks[k + 1].atMs - ticks[k].atMs)));
        }
        QVERIFY(!ticks.last().active);
    }

    void unusualStationValues_data()
    {
        QTest::addColumn<QString>("pos");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("wait");
        QTest::addColumn<QByteArray>("posLine");
        QTest::addColumn<int>("slider");
        QTest::addColumn<int>("estimateSpeed");
        QTest::addColumn<int>("interval");  // -1: the estimate with estimateSpeed

        // The slider clamps 10 to its minimum; the estimate keeps the station's 10.
        QTest::newRow("tiny speed") << "0.01" << "0.01" << "0" << QByteArray("!pos_10") << 40 << 10 << -1;
        // No usable speed: estimated with what the controller is sent.
        QTest::newRow("empty speed") << "0.01" << "" << "0" << QByteArray("!pos_10") << 40 << 40 << -1;
        QTest::newRow("negative speed") << "0.01" << "-2" << "0.5" << QByteArray("!pos_10") << 40 << 40 << -1;
        QTest::newRow("huge values") << "1e300" << "1e300" << "1e300"
                                     << QByteArray("!pos_2147483647") << 8000 << INT_MAX << INT_MAX;
        QTest::newRow("negative wait") << "0.01" << "1" << "-5" << QByteArray("!pos_10") << 1000 << 1000 << 0;
    }
    void unusualStationValues()
    {
        QFETCH(QString, pos);
        QFETCH(QString, speed);
        QFETCH(QString, wait);
        QFETCH(QByteArray, posLine);
        QFETCH(int, slider);
        QFETCH(int, estimateSpeed);
        QFETCH(int, interval);

        SetStation(0, pos, speed, wait, true);
        ui->LoopCountSlider->setValue(1);
        if (interval < 0)
            interval = LoopIntervalMs(
                TravelTimeSeconds(kAccel, kAccel,
                                  TargetDistance(ToControllerUnitsTrunc(pos.toDouble()), 0),
                                  estimateSpeed),
                ToControllerUnitsTrunc(wait.toDouble()));

        ClickLoopButton();
        QTRY_VERIFY(!ticks.isEmpty());
        QVERIFY(ticks[0].active);
        QCOMPARE(ticks[0].interval, interval);
        const QList<QByteArray> first = {"speed_" + QByteArray::number(slider), posLine};
        QTRY_COMPARE(Commands().mid(0, 2), first);

        if (probe->loopStopped() == 0)
            ClickLoopButton();
        QCOMPARE(probe->loopStopped(), 1);
        QVERIFY(!probe->loopTimer()->isActive());
        QTRY_COMPARE(Commands().last(), QByteArray("speed_500"));
    }

    void stopMidRunAndRestart()
    {
        SetStation(0, "0.01", "1", "60", true);  // a minute's wait: still running when stopped
        ui->LoopCountSlider->setValue(2);
        ClickLoopButton();
        QTRY_COMPARE(Commands(), (QList<QByteArray>{"speed_1000", "!pos_10"}));
        QVERIFY(probe->loopTimer()->isActive());
        QCOMPARE(probe->loopStopped(), 0);

        ClickLoopButton();
        QCOMPARE(ui->LoopButton->text(), QString("Start loop"));
        QCOMPARE(probe->loopStopped(), 1);
        QVERIFY(!probe->loopTimer()->isActive());
        QCOMPARE(ui->SpeedSlider->value(), kSavedSpeed);
        QTRY_COMPARE(Commands().last(), QByteArray("speed_500"));
        pty->TakeReceived();

        // A fresh run takes the fields as they are now.
        SetStation(0, "0.5", "2", "60", true);
        ClickLoopButton();
        QCOMPARE(ui->LoopButton->text(), QString("Stop loop"));
        QTRY_COMPARE(Commands(), (QList<QByteArray>{"speed_2000", "!pos_500"}));
        QCOMPARE(probe->savedSpeed(), kSavedSpeed);
        QCOMPARE(ticks.last().interval,
                 LoopIntervalMs(TravelTimeSeconds(kAccel, kAccel, 490, 2000), 60000));
        ClickLoopButton();
        QCOMPARE(probe->loopStopped(), 1);
    }
};

QTEST_MAIN(TestLoopSequencer)
#include "test_loopsequencer.moc"
