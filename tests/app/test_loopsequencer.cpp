// The station sequence: its travel-time estimate, and runs read at a pseudo-terminal peer.

#include "app/stagemath.h"
#include "support/testsupport.h"
#include <QtTest>
#include <QtWidgets>
#include <numeric>

class TestLoopSequencer : public QObject
{
    Q_OBJECT
    QScopedPointer<WindowRig> r;
    QList<int> ticks;  // loopTimer's interval after each tick, 0 once the run has ended

    QString Commands() const  // polling queries left out
    {
        const QStringList lines = QString(r->pty.Received()).split('\n');
        return lines.filter(QRegularExpression("^(!pos|speed)_")).join(' ');
    }

private slots:
    // The estimate with acceleration and deceleration apart, and at the ends of its range; the
    // runs below take its ordinary cases.
    void estimate_data()
    {
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::addColumn<long long>("d");
        QTest::addColumn<double>("v");
        QTest::addColumn<double>("seconds");
        // vp = sqrt(10000 * 20000 * 40000 / 50000) = 12649 >= v:
        // (10000 - 1e6 / 20000 - 1e6 / 80000) / 1000 + 1000 / 40000 + 1000 / 10000
        QTest::newRow("a below b, station speed reached") << 10000 << 40000 << 10000LL << 1000.0
                                                          << 10.0625;
        QTest::newRow("a above b, station speed reached") << 40000 << 10000 << 10000LL << 1000.0
                                                          << 10.0625;
        // vp = sqrt(10000 * 2000 * 40000 / 50000) = 4000 < v: 2d / vp
        QTest::newRow("a below b, never reached") << 10000 << 40000 << 1000LL << 5000.0 << 0.5;
        // 2a and a + b overflow 32 bits: vp = sqrt(2^31 * 2) = 65536 > v
        QTest::newRow("largest ramps") << INT_MAX << INT_MAX << 2LL << 1000.0 << 0.002;
        QTest::newRow("no distance: vp raised to 0.1") << 10000 << 10000 << 0LL << 1000.0 << 0.0;
    }
    void estimate()
    {
        QFETCH(int, a);
        QFETCH(int, b);
        QFETCH(long long, d);
        QFETCH(double, v);
        QFETCH(double, seconds);
        QCOMPARE(qRound64(TravelTimeSeconds(a, b, d, v) * 1e6), qRound64(seconds * 1e6));  // us
    }

    // The interval: t * 1000 + wait + 100, saturated and never negative.
    void interval()
    {
        QCOMPARE(LoopIntervalMs(1e300, 0), INT_MAX);
        QCOMPARE(LoopIntervalMs(0, -5000), 0);  // a loaded negative wait; QTimer refuses < 0
        QCOMPARE(TargetDistance(INT_MAX, INT_MIN), 4294967295LL);
    }

    void init()
    {
        r.reset(new WindowRig(true));
        if (!r->ptyOpen)
            QSKIP("no pseudo-terminal");
        QVERIFY2(r->p.serial()->IsOpen(), "start-up discovery did not open the pty");
        // Once the link is found dead, every run fails at once instead of waiting out its bounds.
        static const bool linkAlive = r->CarriesLines();
        QVERIFY2(linkAlive, "no line crosses the link between the window and its pty");
        ticks.clear();
        QTimer *t = r->p.loopTimer();  // connected after the window: sees the interval just set
        connect(t, &QTimer::timeout, [this, t] { ticks << (t->isActive() ? t->interval() : 0); });
        r->ui->AccelSlider->setValue(40000);  // decel follows: fast ramps keep every move short
        r->ui->SpeedSlider->setValue(500);
        // As settings load them, past the validators: B lacks a speed, C is below 40.
        const QStringList fields = {"0.01", "1", "0.05", "0.02", "", "0.05",
                                    "0.011", "0.01", "0.05", "0.04", "1.2", "0.05"};
        for (int i = 0; i < 12; ++i)
            r->w.findChild<QLineEdit *>(QStringList{"Pos", "Vel", "Time"}[i % 3] + "ABCD"[i / 3]
                                        + "LineEdit")->setText(fields[i]);
        QTRY_COMPARE(Commands(), QString("speed_500"));
        r->pty.TakeReceived();
    }

    // Intervals: travel time + 50 ms wait + 100 ms, with a = b = 40000, a + b = 80000 and the
    // peak speed vp = sqrt(a * 2d * b / (a + b)). Travel from the previous target:
    //   A (10) from 0 (a fresh window): d 10, v 1000 > vp 632.5, t = 2d / vp = 31.6 ms -> 181
    //   B (20) from A: d 10, no speed, so the slider's 40 <= vp 632.5:
    //     t = (10 - 40^2/80000 - 40^2/80000) / 40 + (40/40000 + 40/40000) = 251 ms -> 401
    //   C (11) from A: d 1, its own 10 (the slider stops at 40) <= vp 200:
    //     t = (1 - 10^2/80000 - 10^2/80000) / 10 + (10/40000 + 10/40000) = 100.25 ms -> 250
    //   C from B: d 9, v 10 <= vp 600: t = (9 - 0.0025) / 10 + 0.0005 = 900.25 ms -> 1050
    //   A from C: d 1, v 1000 > vp 200: t = 2 / 200 = 10 ms -> 160
    // 0: the tick that ended the run. Stopped at: the tick after which Stop is pressed.
    void sequence_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("stations");
        QTest::addColumn<bool>("continuous");
        QTest::addColumn<int>("stopAt");
        QTest::addColumn<QList<int>>("ticks");
        QTest::addColumn<QString>("commands");
        QTest::newRow("1 pass of A, C: ends a full interval after C")
            << 1 << "AC" << false << 0 << QList<int>{181, 250, 0}
            << "speed_1000 !pos_10 speed_40 !pos_11 speed_500";
        QTest::newRow("1 pass of A to D: ends right after D")
            << 1 << "ABCD" << false << 0 << QList<int>{181, 401, 1050, 0}
            << "speed_1000 !pos_10 speed_40 !pos_20 !pos_11 speed_1200 !pos_40 speed_500";
        QTest::newRow("count 0, A: A once") << 0 << "A" << false << 0 << QList<int>{0}
                                            << "speed_1000 !pos_10 speed_500";
        QTest::newRow("count 0, C: the search passes A and B")
            << 0 << "C" << false << 0 << QList<int>{0} << "speed_40 !pos_11 speed_500";
        QTest::newRow("count 1, no station: nothing sent") << 1 << "" << false << 0 << QList<int>{0}
                                                           << "";
        QTest::newRow("count 0, no station: nothing sent") << 0 << "" << false << 0 << QList<int>{0}
                                                           << "";
        QTest::newRow("continuous, count 0: on past the count until stopped")
            << 0 << "AC" << true << 3 << QList<int>{181, 250, 160}
            << "speed_1000 !pos_10 speed_40 !pos_11 speed_1000 !pos_10 speed_500";
    }
    void sequence()
    {
        QFETCH(int, count);
        QFETCH(QString, stations);
        QFETCH(bool, continuous);
        QFETCH(int, stopAt);
        QFETCH(QList<int>, ticks);
        QFETCH(QString, commands);
        for (QCheckBox *box : r->w.findChildren<QCheckBox *>(QRegularExpression("^use._cBox$")))
            box->setChecked(stations.contains(box->objectName()[3]));
        r->ui->LoopCountSlider->setValue(count);
        QCOMPARE(r->ui->LoopCountLabel->text(), QString::number(count));
        r->ui->LoopCheckBox->setChecked(continuous);
        connect(r->p.loopTimer(), &QTimer::timeout, [&] {
            if (this->ticks.size() == stopAt)
                r->ui->LoopButton->click();
        });
        const int total = std::accumulate(ticks.begin(), ticks.end(), 0);
        const QDeadlineTimer bound(total + 1000);
        r->ui->LoopButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(this->ticks, ticks, total + 2000);
        QVERIFY(!bound.hasExpired());  // a search that misses loopEnd would hold the event loop
        QTRY_COMPARE(Commands(), commands);
        QCOMPARE(r->p.loopEnd(), continuous ? 4 * 250000 : 4 * count);  // stations in the run
        QCOMPARE(r->ui->LoopButton->text(), QString("Start loop"));
        QCOMPARE(r->p.loopTimer()->isActive(), false);
    }

    void stopMidRunAndRestart()
    {
        r->ui->TimeALineEdit->setText("60");  // a minute's wait at A: still running when stopped
        r->ui->LoopButton->click();
        QTRY_COMPARE(ticks, QList<int>{60131});  // A from 0: 31.6 ms + 60000 + 100
        r->ui->LoopButton->click();
        QCOMPARE(r->ui->LoopButton->text(), QString("Start loop"));
        QCOMPARE(r->p.loopTimer()->isActive(), false);
        r->ui->VelALineEdit->setText("2");  // a fresh run takes the fields as they are now
        r->p.posOffset() = 1;  // and counts its positions from the operator's zero
        r->ui->LoopButton->click();
        QTRY_COMPARE(ticks, (QList<int>{60131, 60100}));  // no move: A is the previous target
        QTRY_COMPARE(Commands(), QString("speed_1000 !pos_10 speed_500 speed_2000 !pos_1010"));
    }
};

QTEST_MAIN(TestLoopSequencer)
#include "test_loopsequencer.moc"
