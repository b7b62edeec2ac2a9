// The settings file: exact bytes written, the reader's rules, and that a
// failed write or read leaves everything as it was.

#include "settings/appsettings.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

struct Key
{
    const char *name;
    double AppSettings_c::*member;
};

const Key kKeys[] = {
    {"offset", &AppSettings_c::offset},   {"refPos", &AppSettings_c::refPos},
    {"maxSpeed", &AppSettings_c::maxSpeed}, {"accel", &AppSettings_c::accel},
    {"decel", &AppSettings_c::decel},     {"holdTorque", &AppSettings_c::holdTorque},
    {"posA", &AppSettings_c::posA},       {"speedA", &AppSettings_c::speedA},
    {"timeA", &AppSettings_c::timeA},     {"useA", &AppSettings_c::useA},
    {"posB", &AppSettings_c::posB},       {"speedB", &AppSettings_c::speedB},
    {"timeB", &AppSettings_c::timeB},     {"useB", &AppSettings_c::useB},
    {"posC", &AppSettings_c::posC},       {"speedC", &AppSettings_c::speedC},
    {"timeC", &AppSettings_c::timeC},     {"useC", &AppSettings_c::useC},
    {"posD", &AppSettings_c::posD},       {"speedD", &AppSettings_c::speedD},
    {"timeD", &AppSettings_c::timeD},     {"useD", &AppSettings_c::useD},
    {"loopCount", &AppSettings_c::loopCount}, {"runLoopCont", &AppSettings_c::runLoopCont},
};

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

}  // namespace

class TestAppSettings : public QObject
{
    Q_OBJECT

private slots:
    void savedFileIsExact();
    void saveReplacesLongerFile();
    void failedSaveKeepsOldFile_data();
    void failedSaveKeepsOldFile();
    void readerRules_data();
    void readerRules();
    void refusedLoadChangesNothing_data();
    void refusedLoadChangesNothing();

private:
    QTemporaryDir dir;
};

void TestAppSettings::savedFileIsExact()
{
    AppSettings_c s;
    const double values[24] = {123.4567, 12.5, 1e6, 0.00001, -0.25, 20,    4,   2,
                               1,        2,    0,   2,       1.5,   3.9,   -3,  0.1,
                               0,        0,    999, 1e-4,    60,    -1.5,  3.9, 2};
    for (int i = 0; i < 24; ++i)
        s.*kKeys[i].member = values[i];
    const QString path = dir.filePath("golden.txt");
    QCOMPARE(s.Save(path), 0);

    const QList<QByteArray> lines = ReadAll(path).split('\n');
    const QList<QByteArray> expected = {
        "# Movexa Settings", "<date>", "",
        "offset=123.457", "refPos=12.5", "maxSpeed=1e+06", "accel=1e-05", "decel=-0.25",
        "holdTorque=20", "posA=4", "speedA=2", "timeA=1", "useA=2",
        "posB=0", "speedB=2", "timeB=1.5", "useB=3",
        "posC=-3", "speedC=0.1", "timeC=0", "useC=0",
        "posD=999", "speedD=0.0001", "timeD=60", "useD=-1",
        "loopCount=3", "runLoopCont=2", ""};  // last: after the final line feed
    QCOMPARE(lines.size(), expected.size());
    QVERIFY2(QRegularExpression(R"(^# Exported on \d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d$)")
                 .match(QString::fromLatin1(lines[1])).hasMatch(),
             lines[1].constData());
    for (int i = 0; i < lines.size(); ++i)
        if (i != 1)
            QCOMPARE(lines[i], expected[i]);

    // Reading back gives the written (rounded) numbers.
    AppSettings_c back;
    QCOMPARE(back.Load(path), 0);
    QCOMPARE(back.offset, 123.457);
    QCOMPARE(back.maxSpeed, 1e6);
    QCOMPARE(back.accel, 1e-5);
    QCOMPARE(back.loopCount, 3.0);
    QCOMPARE(back.useD, -1.0);
}

void TestAppSettings::saveReplacesLongerFile()
{
    const QString path = dir.filePath("long.txt");
    QByteArray old;
    for (int i = 0; i < 100; ++i)
        old += "old line " + QByteArray::number(i) + '\n';
    WriteFile(path, old);

    AppSettings_c s;
    QCOMPARE(s.Save(path), 0);
    const QByteArray now = ReadAll(path);
    QCOMPARE(now.count('\n'), 27);
    QVERIFY(now.endsWith("runLoopCont=0\n"));
    QVERIFY(!now.contains("old line"));
}

void TestAppSettings::failedSaveKeepsOldFile_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("existing");  // must be unchanged afterwards
    QTest::addColumn<bool>("limitFileSize");

    const QString plain = dir.filePath("plain.txt");
    const QString folder = dir.filePath("folder.txt");
    QTest::newRow("parent is a file") << plain + "/settings.txt" << plain << false;
    QTest::newRow("target is a directory") << folder << QString() << false;
    QTest::newRow("write cut short") << plain << plain << true;
}

void TestAppSettings::failedSaveKeepsOldFile()
{
    QFETCH(QString, target);
    QFETCH(QString, existing);
    QFETCH(bool, limitFileSize);

    const QByteArray old = "# old settings\nmaxSpeed=250\n";
    WriteFile(dir.filePath("plain.txt"), old);
    QVERIFY(QDir().mkpath(dir.filePath("folder.txt")));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden);

    AppSettings_c s;
    int result = 0;
    if (limitFileSize) {
        // The disk "fills up" after 64 bytes: the write fails half way.
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 64;
        auto previous = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        result = s.Save(target);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    } else {
        result = s.Save(target);
    }

    QCOMPARE(result, -1);
    QVERIFY(!s.LastError().isEmpty());
    if (!existing.isEmpty())
        QCOMPARE(ReadAll(existing), old);
    QVERIFY(QFileInfo(dir.filePath("folder.txt")).isDir());
    // No temporary file is left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden), before);
}

void TestAppSettings::readerRules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QVariantMap>("changed");  // key -> value; every other field keeps its start value

    auto row = [](const char *name, const QByteArray &file, const QVariantMap &changed = {}) {
        QTest::newRow(name) << file << changed;
    };
    row("blanks around key and value", "  maxSpeed = 250  \n", {{"maxSpeed", 250}});
    row("comment after value", "offset=5 # note\n");
    row("no value", "offset=\n");
    row("no key", "=5\n");
    row("three pieces", "a=b=c\noffset=1=2\n");
    row("doubled equals sign", "offset==5\n", {{"offset", 5}});
    row("keys are case-sensitive", "Offset=5\n");
    row("key contained in longer name", "xoffset=5\n", {{"offset", 5}});
    row("first key in file order wins", "accel_decel=5\n", {{"accel", 5}});
    row("same key twice", "maxSpeed=1\nmaxSpeed=2\n", {{"maxSpeed", 2}});
    row("last convertible line wins", "maxSpeed=1\nmaxSpeed=x\n", {{"maxSpeed", 1}});
    row("comment lines", "# maxSpeed=1\n   #accel=2\n");
    row("CR LF", "maxSpeed=250\r\nholdTorque=30\r\n", {{"maxSpeed", 250}, {"holdTorque", 30}});
    row("LF, no final line end", "maxSpeed=250\nholdTorque=30", {{"maxSpeed", 250}, {"holdTorque", 30}});
    row("scientific notation", "maxSpeed=1e+06\n", {{"maxSpeed", 1e6}});
    row("check state", "useB=1\n", {{"useB", 1}});
    row("integer field not rounded", "useA=2.7\n", {{"useA", 2.7}});
    row("not a number", "maxSpeed=nan\n");
    row("infinite", "maxSpeed=inf\nmaxSpeed=-inf\n");
    row("beyond double range", "maxSpeed=1e999\n");
    row("group separator", "maxSpeed=1,000\n");
    row("decimal comma", "maxSpeed=2,5\n");
}

void TestAppSettings::readerRules()
{
    QFETCH(QByteArray, file);
    QFETCH(QVariantMap, changed);

    const QString path = dir.filePath("rules.txt");
    WriteFile(path, file);
    AppSettings_c start;
    AppSettings_c s;
    QCOMPARE(s.Load(path), 0);
    for (const Key &k : kKeys) {
        const double expected = changed.contains(k.name) ? changed.value(k.name).toDouble()
                                                         : start.*k.member;
        QVERIFY2(s.*k.member == expected, k.name);
    }
}

void TestAppSettings::refusedLoadChangesNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("empty name") << QString();
    QTest::newRow("missing file") << dir.filePath("missing.txt");
    QTest::newRow("directory") << dir.path();
    // Opening a FIFO would block the window until someone writes to it.
    QTest::newRow("fifo") << dir.filePath("fifo.txt");
}

void TestAppSettings::refusedLoadChangesNothing()
{
    QFETCH(QString, path);
    const QString fifo = dir.filePath("fifo.txt");
    if (!QFileInfo::exists(fifo))
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    AppSettings_c start;
    AppSettings_c s;
    QCOMPARE(s.Load(path), -1);
    QVERIFY(!s.LastError().isEmpty());
    for (const Key &k : kKeys)
        QVERIFY2(s.*k.member == start.*k.member, k.name);
}

QTEST_GUILESS_MAIN(TestAppSettings)
#include "test_appsettings.moc"
