// The settings file: the exact lines written, the reader's rules, a failed write.

#include "settings/appsettings.h"
#include "support/testsupport.h"
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

class TestAppSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    // Saving over a longer file writes exactly these lines; a write that fails half way leaves
    // that file as it was, with no temporary beside it.
    void save()
    {
        QTemporaryDir here;
        const QString path = here.filePath("old.txt");
        QVERIFY(WriteFileBytes(path, QByteArray("a longer old file\n").repeated(100)));
        AppSettings_c s;
        s.offset = 123.4567, s.maxSpeed = 1e6, s.accel = 0.00001, s.decel = -0.25;
        s.loopCount = 3.9, s.useD = -1.5, s.useB = 1e12;  // integer fields
        QCOMPARE(s.Save(path), 0);
        const QByteArray golden = ReadFileBytes(path);
        QStringList lines = QString(golden).split('\n');
        lines[1].replace(QRegularExpression(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d$)"), "<date>");
        QCOMPARE(lines, QString("# Movexa Settings|# Exported on <date>||offset=123.457|refPos=0|"
            "maxSpeed=1e+06|accel=1e-05|decel=-0.25|holdTorque=20|posA=4|speedA=2|timeA=1|useA=2|"
            "posB=0|speedB=2|timeB=1|useB=2147483647|posC=0|speedC=2|timeC=0|useC=0|posD=0|"
            "speedD=2|timeD=0|useD=-1|loopCount=3|runLoopCont=0|").split('|'));  // 27, each ended

        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit limited{64, saved.rlim_max};  // the disk fills up after 64 bytes
        std::signal(SIGXFSZ, SIG_IGN);  // a short write, not a signal
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const int result = AppSettings_c().Save(path);
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(result, -1);
        QCOMPARE(ReadFileBytes(path), golden);
        QCOMPARE(QDir(here.path()).entryList(QDir::Files | QDir::Hidden), QStringList("old.txt"));
    }

    // A writable file in a folder that refuses new files is written in place. A write there
    // that fails part way leaves the file shortened, and the message says so. Only a plain file
    // is written so: a pipe there is refused (with no reader it would block the window).
    void saveWhereOnlyTheFileIsWritable()
    {
        QTemporaryDir here;
        const QString folder = here.filePath("shared"), path = folder + "/settings.txt";
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(WriteFileBytes(path, QByteArray("a longer old file\n").repeated(100)));
        const QString pipe = folder + "/pipe.txt";
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0666), 0);
        const int reader = open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);  // so that a faulty write would not block the test
        // Everyone may enter and read; only the file may be written.
        const auto read = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        const auto enter = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        const auto write = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
        QVERIFY(QFile::setPermissions(here.path(), read | enter | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(path, read | write));
        QVERIFY(QFile::setPermissions(pipe, read | write));
        QVERIFY(QFile::setPermissions(folder, read | enter));
        // Root passes every permission check: save as nobody (65534) instead.
        const uid_t uid = geteuid();
        if (uid == 0 && seteuid(65534) != 0)
            QSKIP("running as root and cannot act as another user: the folder would be writable");
        const bool refused = faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK,
                                       AT_EACCESS) != 0;
        AppSettings_c s;
        s.maxSpeed = 250;
        const int result = refused ? s.Save(path) : -2;
        const QStringList lines = QString(ReadFileBytes(path)).split('\n');
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit limited{64, saved.rlim_max};  // the disk fills up after 64 bytes
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const int cutShort = refused ? s.Save(path) : -2;
        setrlimit(RLIMIT_FSIZE, &saved);
        const QString cutShortError = s.LastError();
        const int toPipe = refused ? s.Save(pipe) : -2;
        close(reader);
        if (uid == 0)
            QVERIFY(seteuid(0) == 0);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!refused)
            QSKIP("this file system lets the folder be written: nothing to test");
        QCOMPARE(result, 0);
        QCOMPARE(lines.size(), 28);  // 27 lines, each ended
        QCOMPARE(lines.value(0), QString("# Movexa Settings"));
        QCOMPARE(lines.value(5), QString("maxSpeed=250"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList("settings.txt"));
        QCOMPARE(toPipe, -1);
        QCOMPARE(QString("%1, %2 bytes: %3").arg(cutShort).arg(QFileInfo(path).size())
                     .arg(cutShortError.section('\n', -1)),
                 QString("-1, 64 bytes: The file was written in place and may now be incomplete."));
    }

    // Tags: the file, " | " standing for a line feed and CR for a carriage return.
    void readerRules_data()
    {
        QTest::addColumn<QString>("changed");  // the fields that differ from a fresh record
        QTest::newRow("  maxSpeed = 250  ") << "maxSpeed=250";
        QTest::newRow("offset==5") << "offset=5";
        QTest::newRow("xoffset=5") << "offset=5";
        QTest::newRow("accel_decel=5") << "accel=5";
        QTest::newRow("maxSpeed=1 | maxSpeed=2 | maxSpeed=x") << "maxSpeed=2";  // last convertible
        QTest::newRow("maxSpeed=250CR | holdTorque=30CR | ") << "maxSpeed=250 holdTorque=30";
        QTest::newRow("maxSpeed=1e+06") << "maxSpeed=1e+06";
        QTest::newRow("useB=1 | useA=2.7") << "useA=2.7 useB=1";
        for (const char *unchanged : {"offset=5 # note | # maxSpeed=1 |   #accel=2", "offset=",
                 "=5", "a=b=c | offset=1=2", "Offset=5", "maxSpeed=nan",
                 "maxSpeed=inf | maxSpeed=-inf", "maxSpeed=1e999"})
            QTest::newRow(unchanged) << "";
    }
    void readerRules()
    {
        QByteArray file = QTest::currentDataTag();
        QVERIFY(WriteFileBytes(dir.filePath("r"), file.replace(" | ", "\n").replace("CR", "\r")));
        AppSettings_c s;
        QCOMPARE(s.Load(dir.filePath("r")), 0);
        QTEST(ChangedFields(AppSettings_c(), s).join(' '), "changed");
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "test_appsettings.moc"
