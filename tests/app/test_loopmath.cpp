// Travel-time estimate of the station sequence and the timer interval built
// from it.

#include "app/stagemath.h"

#include <QtTest>

#include <climits>
#include <cmath>

class TestLoopMath : public QObject
{
    Q_OBJECT

private slots:
    void travelTime_data()
    {
        QTest::addColumn<int>("accel");
        QTest::addColumn<int>("decel");
        QTest::addColumn<qlonglong>("distance");
        QTest::addColumn<double>("speed");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("intervalMs");

        // Peak 10000 equals the speed: accelerate, cruise, decelerate.
        QTest::newRow("trapezoid") << 10000 << 10000 << 10000LL << 1000.0 << 500 << 10.1 << 10700;
        // Peak 1000 is below the speed: a triangle at the peak speed.
        QTest::newRow("triangle") << 10000 << 10000 << 100LL << 5000.0 << 0 << 0.2 << 300;
        QTest::newRow("same position") << 10000 << 10000 << 0LL << 1000.0 << 250 << 0.0 << 350;
        // a + b in 32 bits would wrap negative and give no peak speed at all.
        QTest::newRow("accelerations at the int limit")
            << INT_MAX << INT_MAX << 1LL << 1000.0 << 0 << 0.0010005 << 101;
        // The whole 32-bit span at 1 unit/s: billions of seconds.
        QTest::newRow("longest move, slowest speed")
            << 5000 << 5000 << 4294967295LL << 1.0 << 0 << 4294967295.0002 << INT_MAX;
        QTest::newRow("longest wait") << 10000 << 10000 << 0LL << 1000.0 << INT_MAX << 0.0 << INT_MAX;
        // A loaded negative wait must not yield an interval QTimer refuses.
        QTest::newRow("negative wait") << 10000 << 10000 << 0LL << 1000.0 << -5000 << 0.0 << 0;
    }
    void travelTime()
    {
        QFETCH(int, accel);
        QFETCH(int, decel);
        QFETCH(qlonglong, distance);
        QFETCH(double, speed);
        QFETCH(int, waitMs);
        QFETCH(double, seconds);
        QFETCH(int, intervalMs);

        const double t = TravelTimeSeconds(accel, decel, distance, speed);
        QVERIFY2(std::isfinite(t), qPrintable(QString::number(t)));
        QVERIFY2(std::abs(t - seconds) <= 1e-6 * std::max(1.0, seconds),
                 qPrintable(QString::number(t, 'g', 17)));
        QCOMPARE(LoopIntervalMs(t, waitMs), intervalMs);
    }

    void distanceAndIntervalSaturate()
    {
        QCOMPARE(TargetDistance(INT_MAX, INT_MIN), 4294967295LL);
        QCOMPARE(TargetDistance(-5, 5), 10LL);
        QCOMPARE(LoopIntervalMs(1e300, INT_MAX), INT_MAX);
        QCOMPARE(LoopIntervalMs(std::nan(""), 0), 0);
        QCOMPARE(LoopIntervalMs(-1e300, 0), 0);
    }
};

QTEST_APPLESS_MAIN(TestLoopMath)
#include "test_loopmath.moc"
