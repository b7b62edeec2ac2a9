// The settings file: the exact lines written, the reader's rules, and that a
// failed write leaves the old file as it was.

#include "settings/appsettings.h"
#include "support/testsupport.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {
#define F(key) {#key, &AppSettings_c::key}
const QPair<const char *, double AppSettings_c::*> kFields[] = {F(offset), F(refPos), F(maxSpeed),
    F(accel), F(decel), F(holdTorque), F(posA), F(speedA), F(timeA), F(useA), F(posB), F(speedB),
    F(timeB), F(useB), F(posC), F(speedC), F(timeC), F(useC), F(posD), F(speedD), F(timeD), F(useD),
    F(loopCount), F(runLoopCont)};
#undef F
}  // namespace

class TestAppSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void savedFileIsExact()
    {
        const QString path = dir.filePath("golden.txt");
        QVERIFY(WriteFileBytes(path, QByteArray("a longer old file\n").repeated(100)));
        AppSettings_c s;
        s.offset = 123.4567, s.maxSpeed = 1e6, s.accel = 0.00001, s.decel = -0.25;
        s.useA = 2, s.loopCount = 3.9, s.useD = -1.5, s.useB = 1e12;  // integer fields
        QCOMPARE(s.Save(path), 0);
        QStringList lines = QString(ReadFileBytes(path)).split('\n');
        QVERIFY2(QRegularExpression(R"(^# Exported on \d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d$)")
                     .match(lines.value(1)).hasMatch(), qPrintable(lines.value(1)));
        lines[1] = "date";
        QCOMPARE(lines, QString("# Movexa Settings|date||offset=123.457|refPos=0|maxSpeed=1e+06|"
            "accel=1e-05|decel=-0.25|holdTorque=20|posA=4|speedA=2|timeA=1|useA=2|posB=0|speedB=2|"
            "timeB=1|useB=2147483647|posC=0|speedC=2|timeC=0|useC=0|posD=0|speedD=2|timeD=0|"
            "useD=-1|loopCount=3|runLoopCont=0|").split('|'));  // 27 lines, each ended
    }

    void failedSaveKeepsOldFile()
    {
        QTemporaryDir here;
        const QString path = here.filePath("old.txt");
        QVERIFY(WriteFileBytes(path, "maxSpeed=250\n") && QDir(here.path()).mkpath("folder"));
        QCOMPARE(AppSettings_c().Save(here.filePath("folder")), -1);
        // The disk fills up after 64 bytes and the write fails half way.
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit limited{64, saved.rlim_max};
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);  // a short write, not a signal
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const int result = AppSettings_c().Save(path);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        QCOMPARE(result, -1);
        QCOMPARE(ReadFileBytes(path), QByteArray("maxSpeed=250\n"));  // and no temporary is left
        QCOMPARE(QDir(here.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({"folder", "old.txt"}));
    }

    void readerRules_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QVariantMap>("changed");  // the fields that differ from a fresh record
        auto row = [](const char *file, const QVariantMap &changed = {}) {
            QTest::newRow(qPrintable(QString(file).replace('\r', "CR").replace('\n', " | ")))
                << QByteArray(file) << changed;
        };
        row("  maxSpeed = 250  ", {{"maxSpeed", 250}});
        row("offset=5 # note\n# maxSpeed=1\n  #accel=2");
        row("offset=");
        row("=5");
        row("a=b=c\noffset=1=2");
        row("Offset=5");
        row("offset==5", {{"offset", 5}});
        row("xoffset=5", {{"offset", 5}});
        row("accel_decel=5", {{"accel", 5}});
        row("maxSpeed=1\nmaxSpeed=2\nmaxSpeed=x", {{"maxSpeed", 2}});  // last convertible one wins
        row("maxSpeed=250\r\nholdTorque=30\r\n", {{"maxSpeed", 250}, {"holdTorque", 30}});
        row("maxSpeed=250\nholdTorque=30", {{"maxSpeed", 250}, {"holdTorque", 30}});
        row("maxSpeed=1e+06", {{"maxSpeed", 1e6}});
        row("useB=1\nuseA=2.7", {{"useB", 1}, {"useA", 2.7}});
        row("maxSpeed=nan");
        row("maxSpeed=inf\nmaxSpeed=-inf");
        row("maxSpeed=1e999");
    }
    void readerRules()
    {
        QFETCH(QByteArray, file);
        QFETCH(QVariantMap, changed);
        const QString path = dir.filePath("rules.txt");
        AppSettings_c fresh, s;
        QVERIFY(WriteFileBytes(path, file));
        QCOMPARE(s.Load(path), 0);
        for (const auto &f : kFields)
            QVERIFY2(s.*f.second == changed.value(f.first, fresh.*f.second).toDouble(), f.first);
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "test_appsettings.moc"
