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
    void estimate()  // through the interval (t * 1000 + wait + 100), which pins t to the ms
    {
        const auto ms = [](int a, int half, double v, int wait) {  // a move from -half to half
            return LoopIntervalMs(TravelTimeSeconds(a, a, TargetDistance(half, -half), v), wait);
        };
        QCOMPARE(ms(10000, 5000, 1000, 500), 10700);  // 10.1 s: accelerate, cruise, decelerate
        QCOMPARE(ms(10000, 50, 5000, 0), 300);  // 0.2 s: a triangle at the peak speed of 1000
        QCOMPARE(ms(10000, 0, 1000, 250), 350);  // same position
        QCOMPARE(ms(INT_MAX, 1, 1000, 0), 102);  // 2a and a + b overflow 32 bits
        QCOMPARE(ms(5000, INT_MAX, 1, 0), INT_MAX);  // so does the distance: saturated
        QCOMPARE(ms(10000, 0, 1000, -5000), 0);  // a loaded negative wait; QTimer refuses < 0
    }

    void init()
    {
        r.reset(new WindowRig(true));
        if (!r->ptyOpen || !r->p.serial()->IsOpen())
            QSKIP("no pseudo-terminal");
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

    // Tags: loop count, stations used. C is estimated at its own 10 (250 ms, not 176), B without
    // a speed at the slider's 40 (401 ms); the run ends when the last interval is over.
    void sequence_data()
    {
        QTest::addColumn<QList<int>>("ticks");
        QTest::addColumn<QString>("commands");
        QTest::newRow("1 AC") << QList<int>{181, 250, 0}
                              << "speed_1000 !pos_10 speed_40 !pos_11 speed_500";
        QTest::newRow("1 ABCD") << QList<int>{181, 401, 1050, 0}
            << "speed_1000 !pos_10 speed_40 !pos_20 !pos_11 speed_1200 !pos_40 speed_500";
        QTest::newRow("0 A") << QList<int>{0} << "speed_1000 !pos_10 speed_500";
        QTest::newRow("0 C") << QList<int>{0} << "speed_40 !pos_11 speed_500";
        QTest::newRow("1 none") << QList<int>{0} << "";
        QTest::newRow("0 none") << QList<int>{0} << "";
    }
    void sequence()
    {
        QFETCH(QList<int>, ticks);
        QFETCH(QString, commands);
        const QStringList tag = QString(QTest::currentDataTag()).split(' ');
        for (QCheckBox *box : r->w.findChildren<QCheckBox *>(QRegularExpression("^use._cBox$")))
            box->setChecked(tag[1].contains(box->objectName()[3]));
        r->ui->LoopCountSlider->setValue(tag[0].toInt());
        const QDeadlineTimer bound(std::accumulate(ticks.begin(), ticks.end(), 1000));
        r->ui->LoopButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(this->ticks, ticks, 20000);
        QVERIFY(!bound.hasExpired());  // a search that misses loopEnd would hold the event loop
        QTRY_COMPARE(Commands(), commands);
    }

    void stopMidRunAndRestart()
    {
        r->ui->TimeALineEdit->setText("60");  // a minute's wait at A: still running when stopped
        r->ui->LoopButton->click();
        QTRY_COMPARE(ticks, QList<int>{60131});
        r->ui->LoopButton->click();
        QVERIFY(r->ui->LoopButton->text() == "Start loop" && !r->p.loopTimer()->isActive());
        r->ui->VelALineEdit->setText("2");  // a fresh run takes the fields as they are now
        r->ui->LoopButton->click();
        QTRY_COMPARE(ticks, (QList<int>{60131, 60100}));  // no move: A is the previous target
        QTRY_COMPARE(Commands(), QString("speed_1000 !pos_10 speed_500 speed_2000 !pos_10"));
    }
};

QTEST_MAIN(TestLoopSequencer)
#include "test_loopsequencer.moc"
