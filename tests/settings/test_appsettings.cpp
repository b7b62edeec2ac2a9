// The settings file: the exact lines written, the reader's rules, a failed write, files that are
// no plain files.

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
    // that fails part way leaves the file shortened, and the message says so.
    void saveWhereOnlyTheFileIsWritable()
    {
        QTemporaryDir here;
        const QString folder = here.filePath("shared"), path = folder + "/settings.txt";
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(WriteFileBytes(path, QByteArray("a longer old file\n").repeated(100)));
        // Everyone may enter and read; only the file may be written.
        const auto read = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        const auto enter = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        const auto write = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
        QVERIFY(QFile::setPermissions(here.path(), read | enter | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(path, read | write));
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
        if (uid == 0)
            QCOMPARE(seteuid(0), 0);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!refused)
            QSKIP("this file system lets the folder be written: nothing to test");
        QCOMPARE(result, 0);
        QCOMPARE(lines.size(), 28);  // 27 lines, each ended
        QCOMPARE(lines.value(0), QString("# Movexa Settings"));
        QCOMPARE(lines.value(5), QString("maxSpeed=250"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList("settings.txt"));
        QCOMPARE(cutShort, -1);
        QCOMPARE(QFileInfo(path).size(), 64);
        QCOMPARE(cutShortError.section('\n', -1),
                 QString("The file was written in place and may now be incomplete."));
    }

    // Saving onto a FIFO or a device leaves it as it is and says why; reading one (it would
    // block, or never end) is refused alike.
    void otherFilesRefused()
    {
        const QString pipe = dir.filePath("pipe");
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        AppSettings_c s;
        QCOMPARE(s.Save(pipe), -1);
        QCOMPARE(s.LastError(), QString("Not a regular file"));
        QCOMPARE(QFileInfo(pipe).isFile(), false);
        QCOMPARE(QFileInfo(pipe).exists(), true);
        QCOMPARE(s.Load(pipe), -1);
        QCOMPARE(s.LastError(), QString("Not a regular file"));
        QCOMPARE(s.Save(dir.filePath("no/such/folder.txt")), -1);  // and why, from the system
        QCOMPARE(s.LastError().isEmpty(), false);
    }

    void readerRules_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("changed");  // the fields that differ from a fresh record
        QTest::newRow("blanks around") << QByteArray("  maxSpeed = 250  ") << "maxSpeed=250";
        QTest::newRow("empty pieces skipped") << QByteArray("offset==5") << "offset=5";
        QTest::newRow("key contained") << QByteArray("xoffset=5") << "offset=5";
        QTest::newRow("first key in file order") << QByteArray("accel_decel=5") << "accel=5";
        QTest::newRow("last convertible value") << QByteArray("maxSpeed=1\nmaxSpeed=2\nmaxSpeed=x")
                                                << "maxSpeed=2";
        QTest::newRow("CR LF") << QByteArray("maxSpeed=250\r\nholdTorque=30\r\n")
                               << "maxSpeed=250 holdTorque=30";
        QTest::newRow("exponent") << QByteArray("maxSpeed=1e+06") << "maxSpeed=1e+06";
        QTest::newRow("fractional use") << QByteArray("useB=1\nuseA=2.7") << "useA=2.7 useB=1";
        QTest::newRow("comments") << QByteArray("offset=5 # note\n# maxSpeed=1\n   #accel=2") << "";
        QTest::newRow("no value") << QByteArray("offset=") << "";
        QTest::newRow("no key") << QByteArray("=5") << "";
        QTest::newRow("three pieces") << QByteArray("a=b=c\noffset=1=2") << "";
        QTest::newRow("case matters") << QByteArray("Offset=5") << "";
        QTest::newRow("NaN") << QByteArray("maxSpeed=nan") << "";
        QTest::newRow("infinities") << QByteArray("maxSpeed=inf\nmaxSpeed=-inf") << "";
        QTest::newRow("overflow") << QByteArray("maxSpeed=1e999") << "";
    }
    void readerRules()
    {
        QFETCH(QByteArray, file);
        QVERIFY(WriteFileBytes(dir.filePath("r"), file));
        AppSettings_c s;
        QCOMPARE(s.Load(dir.filePath("r")), 0);
        QTEST(ChangedFields(AppSettings_c(), s).join(' '), "changed");
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "test_appsettings.moc"
