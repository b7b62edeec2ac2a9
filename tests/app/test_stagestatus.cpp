// The status-word decode and the stage-type guard, on their own: saturated
// values arrive here as INT_MAX and INT_MIN.

#include "app/stagemath.h"

#include <QtTest>

#include <limits>

class TestStageStatus : public QObject
{
    Q_OBJECT

private slots:
    void decode_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("bits");  // moving, error, not homed, hardware
        QTest::newRow("0") << 0 << "----";
        QTest::newRow("1") << 1 << "m---";
        QTest::newRow("2") << 2 << "-e--";
        QTest::newRow("4") << 4 << "--n-";
        QTest::newRow("8") << 8 << "---h";
        QTest::newRow("16 ignored") << 16 << "----";
        QTest::newRow("INT_MAX") << std::numeric_limits<int>::max() << "menh";
        QTest::newRow("INT_MIN") << std::numeric_limits<int>::min() << "----";
        QTest::newRow("-1") << -1 << "menh";
    }
    void decode()
    {
        QFETCH(int, status);
        const StageStatus s = DecodeStatus(status);
        const QString bits = QString(s.moving ? "m" : "-") + (s.error ? "e" : "-")
                             + (s.notHomed ? "n" : "-") + (s.hardwareError ? "h" : "-");
        QTEST(bits, "bits");
    }

    void knownStageTypes()
    {
        QVERIFY(IsKnownStageType(0));
        QVERIFY(IsKnownStageType(2));
        QVERIFY(!IsKnownStageType(-1));
        QVERIFY(!IsKnownStageType(3));
        QVERIFY(!IsKnownStageType(std::numeric_limits<int>::min()));
        QVERIFY(!IsKnownStageType(std::numeric_limits<int>::max()));
    }
};

QTEST_APPLESS_MAIN(TestStageStatus)
#include "test_stagestatus.moc"
