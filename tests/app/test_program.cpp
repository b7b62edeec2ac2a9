// The programs as a user meets them: started without a display or with a mistake, ended by a
// signal, on a machine with stale port locks; the window icon.

#include "app/panelsession.h"
#include "app/windowicon.h"
#include "support/testsupport.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

constexpr int kWait = 5000;  // ample on a loaded machine

namespace {

// The folders the serial port library keeps its "LCK.." files in; it writes to the first
// writable one.
const QStringList kLockFolders = {"/var/lock", "/etc/locks", "/var/spool/locks",
    "/var/spool/uucp", "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"};

// The lock files whose first line names pid.
QStringList LocksOf(qint64 pid)
{
    QStringList locks;
    for (const QString &folder : kLockFolders)
        for (const QFileInfo &f : QDir(folder).entryInfoList({"LCK..*"}, QDir::Files)) {
            QFile file(f.absoluteFilePath());
            if (file.open(QIODevice::ReadOnly) && file.readLine(64).trimmed().toLongLong() == pid)
                locks << f.canonicalFilePath();
        }
    locks.removeDuplicates();  // /var/lock is /run/lock on most systems
    return locks;
}

// A process that has surely ended: started and reaped.
qint64 DeadPid()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

struct ProgramRun
{
    const char *tag;
    const char *program;
    QStringList args;
    int exitCode;
    bool onStdout;  // where the line is looked for
    QString line;
};

}  // namespace

Q_DECLARE_METATYPE(ProgramRun)

class TestProgram : public QObject
{
    Q_OBJECT
    // The panels started here listen for scripts: in a folder of their own, never on the
    // default socket, where a user's script would reach them.
    QTemporaryDir runtime;

private slots:
    void initTestCase()
    {
        FilterPlatformNoise();
        QVERIFY(runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }

    // Without any display: what ends at once, and with which line and exit code.
    void withoutDisplay_data()
    {
        QTest::addColumn<ProgramRun>("run");
        const ProgramRun runs[] = {
            {"no display at all", MOVEXA_PROGRAM, {}, 1, false, "movexa: no display to show "
             "the window on: neither DISPLAY nor WAYLAND_DISPLAY is set."},
            {"-platform=offscreen", MOVEXA_PROGRAM, {"-platform=offscreen"}, 2, false,
             "movexa: Qt takes the value of '-platform' as the next argument: write '-platform "
             "offscreen'."},
            {"--help-all lists Qt's options", MOVEXA_PROGRAM, {"--help-all"}, 0, true,
             "  -platform <name[:options]>    Platform to show the window with: xcb, wayland, "
             "offscreen, ..."},
            {"a usage error points to --help", MOVEXA_PROGRAM, {"--stage-type", "rotation"}, 2,
             false, "Try 'movexa --help' for the options."},
            {"--version", MOVEXA_PROGRAM, {"--version"}, 0, true, "Movexa 1.10"},
            {"--check-options starts nothing", MOVEXA_PROGRAM, {"--check-options",
             "--virtual-stage"}, 0, false, ""},
            {"--check-options prints nothing", MOVEXA_PROGRAM, {"--check-options", "--version"},
             0, true, ""},
            {"simulator: unknown option", STAGE_SIM_PROGRAM, {"--bogus"}, 2, false,
             "movexa-stage-sim: Unknown option 'bogus'."},
        };
        for (const ProgramRun &r : runs)
            QTest::newRow(r.tag) << r;
    }
    void withoutDisplay()
    {
        QFETCH(ProgramRun, run);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM"})
            env.remove(name);
        program.setProcessEnvironment(env);
        program.start(run.program, run.args);
        if (!program.waitForFinished(kWait))
            program.kill();
        const QByteArray output =
            run.onStdout ? program.readAllStandardOutput() : program.readAllStandardError();
        const QStringList lines = QString(output).split('\n');
        QCOMPARE(program.exitCode(), run.exitCode);
        // The line, or nothing at all; else everything printed.
        if (run.line.isEmpty())
            QCOMPARE(lines, QStringList(""));
        else
            QCOMPARE(lines.contains(run.line) ? run.line : lines.join('|'), run.line);
    }

    // Whether Qt would find a display: the platform from -platform, else QT_QPA_PLATFORM, else
    // X11 or Wayland, whichever is there.
    void displayCheck_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("display");  // DISPLAY
        QTest::addColumn<QString>("wayland");  // WAYLAND_DISPLAY
        QTest::addColumn<bool>("usualSocket");  // XDG_RUNTIME_DIR holds wayland-0
        QTest::addColumn<QString>("platform");  // QT_QPA_PLATFORM
        QTest::addColumn<QString>("missing");  // what the message names; empty: the panel runs
        QTest::newRow("X11 session") << QStringList() << ":0" << "" << false << "" << "";
        QTest::newRow("Wayland session") << QStringList() << "" << "w-1" << false << "" << "";
        QTest::newRow("Wayland's usual socket") << QStringList{"-platform", "wayland"} << "" << ""
                                                << true << "" << "";
        QTest::newRow("-platform offscreen") << QStringList{"-platform", "offscreen"} << "" << ""
                                             << false << "" << "";
        QTest::newRow("-display for X11") << QStringList{"-display", ":1"} << "" << "" << false
                                          << "xcb" << "";
        QTest::newRow("one of two platforms") << QStringList() << ":0" << "" << false
                                              << "wayland;xcb:opt=1" << "";
        QTest::newRow("-platform before the variable") << QStringList{"-platform", "xcb"} << ""
            << "" << false << "offscreen" << "the platform 'xcb' needs DISPLAY, which is not set.";
        QTest::newRow("neither of two platforms") << QStringList() << "" << "" << false
            << "wayland;xcb"
            << "the platform 'wayland;xcb' needs WAYLAND_DISPLAY or DISPLAY, and neither is set.";
    }
    void displayCheck()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, usualSocket);
        QTemporaryDir runtime;
        if (usualSocket)
            QVERIFY(WriteFileBytes(runtime.filePath("wayland-0"), ""));  // stands for the socket
        QFETCH(QString, display);
        QFETCH(QString, wayland);
        QFETCH(QString, platform);
        QProcessEnvironment env;
        const QList<QPair<QString, QString>> variables{
            {"DISPLAY", display}, {"WAYLAND_DISPLAY", wayland}, {"QT_QPA_PLATFORM", platform}};
        for (const auto &v : variables)
            if (!v.second.isEmpty())
                env.insert(v.first, v.second);
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        const CommandLine c = CheckDisplay(ParseCommandLine(QStringList{"movexa"} + args), env);
        QTEST(c.error.section('\n', 0, 0).section(": ", 1), "missing");
    }

    // Ended by a signal, the panel on its virtual stage ends as if its window were closed: exit
    // code 0, its port's lock removed, the virtual stage's pseudo-terminal gone.
    void endsOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void endsOnSignal()
    {
        QFETCH(int, signalNumber);
        if (!QFileInfo::exists("/dev/ptmx"))
            QSKIP("no pseudo-terminals");
        QProcess panel;
        panel.start(MOVEXA_PROGRAM, {"--virtual-stage", "-platform", "offscreen"});
        QVERIFY(panel.waitForStarted(kWait));
        const qint64 pid = panel.processId();
        const auto cleanUp = qScopeGuard([&] {
            panel.kill();
            panel.waitForFinished(kWait);
            for (const QString &lock : LocksOf(pid))  // what a failure left behind
                QFile::remove(lock);
        });
        // Connected: the port it opened is locked in its name.
        QTRY_COMPARE_WITH_TIMEOUT(LocksOf(pid).size(), 1, kWait);
        const QString pty = "/dev/" + LocksOf(pid).value(0).section("LCK..", 1).replace('_', '/');
        const qint64 made = NodeMadeNs(pty);
        QVERIFY2(made >= 0, qPrintable(pty));
        ::kill(static_cast<pid_t>(pid), signalNumber);
        QVERIFY(panel.waitForFinished(kWait));
        QStringList outcome;
        outcome << (panel.exitStatus() == QProcess::NormalExit
                        ? "exit code " + QString::number(panel.exitCode()) : QString("killed"))
                << "locks: " + LocksOf(pid).join(' ')
                << (NodeMadeNs(pty) == made ? pty + " left" : "pty gone");
        QCOMPARE(outcome, (QStringList{"exit code 0", "locks: ", "pty gone"}));
    }

    // The pseudo-terminal, its far end and the signal socket are not handed on to programs the
    // panel or the simulator would start.
    void descriptorsCloseOnExec_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("panel") << MOVEXA_PROGRAM
                               << QStringList{"--virtual-stage", "-platform", "offscreen"};
        QTest::newRow("simulator") << STAGE_SIM_PROGRAM << QStringList();
    }
    void descriptorsCloseOnExec()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        if (!QFileInfo::exists("/proc/self/fdinfo") || !QFileInfo::exists("/dev/ptmx"))
            QSKIP("no /proc or no pseudo-terminals");
        QProcess p;
        p.start(program, args);
        QVERIFY(p.waitForStarted(kWait));
        const qint64 pid = p.processId();
        const auto cleanUp = qScopeGuard([&] {
            p.kill();
            p.waitForFinished(kWait);
            for (const QString &lock : LocksOf(pid))
                QFile::remove(lock);
        });
        // Set up: the panel has opened its port (and locked it), the simulator named its pty.
        QTRY_VERIFY_WITH_TIMEOUT(program == MOVEXA_PROGRAM ? !LocksOf(pid).isEmpty()
                                                          : p.canReadLine(), kWait);
        const QString proc = QString("/proc/%1/").arg(pid);
        QStringList inherited;  // the descriptors an exec would hand on, with what they are
        for (const QString &fd : QDir(proc + "fd").entryList(QDir::System | QDir::Files)) {
            const QString target = QFileInfo(proc + "fd/" + fd).symLinkTarget();
            const bool ours = target.startsWith("/dev/pt") || target.contains("socket:");
            const QString info = ReadFileBytes(proc + "fdinfo/" + fd);
            const qint64 flags =  // octal
                info.section("flags:", 1).section('\n', 0, 0).trimmed().toLongLong(nullptr, 8);
            if (fd.toInt() > 2 && ours && !(flags & O_CLOEXEC))
                inherited << fd + " " + target;
        }
        QCOMPARE(inherited.join(", "), QString());
    }

    // Locks left by panels that were killed: every pseudo-terminal number the kernel may hand
    // out next carries one, more than the virtual stage would step over. It starts regardless,
    // and the panel opens its port.
    void staleLocks()
    {
        QString folder;
        for (const QString &f : kLockFolders)
            if (folder.isEmpty() && QFileInfo(f).isDir() && QFileInfo(f).isWritable())
                folder = f;
        if (folder.isEmpty())
            QSKIP("no lock folder this user may write");
        int highest = 0;
        for (const QString &n : QDir("/dev/pts").entryList(QDir::System | QDir::Files))
            highest = std::max(highest, n.toInt());
        const QByteArray content = QByteArray::number(DeadPid()) + "\nmovexa\n"
            + QSysInfo::machineHostName().toUtf8() + '\n';
        QStringList planted;
        const auto removePlanted = qScopeGuard([&] {
            for (const QString &lock : planted)
                if (ReadFileBytes(lock) == content)  // not one the port has since taken
                    QFile::remove(lock);
        });
        for (int n = 0; n <= highest + 20; ++n) {
            const QString lock = folder + "/LCK..pts_" + QString::number(n);
            if (!QFileInfo::exists(lock) && WriteFileBytes(lock, content))
                planted << lock;
        }
        PanelSession_c s(ParseCommandLine({"movexa", "--virtual-stage"}));
        MainWindowProbe p(&s.Window());
        QCOMPARE(s.Stage() ? p.serial()->IsOpen() : false, true);
    }

    // ./motor.png in the working folder first, as the menu entry starts the panel; elsewhere the
    // installed pictures (here 16 and 48 pixels; ./motor.png has 32).
    void windowIcon_data()
    {
        QTest::addColumn<bool>("localPicture");
        QTest::addColumn<QString>("sizes");
        QTest::newRow("./motor.png present") << true << "32";
        QTest::newRow("started elsewhere") << false << "16 48";
    }
    void windowIcon()
    {
        QFETCH(bool, localPicture);
        QFETCH(QString, sizes);
        QTemporaryDir here;
        for (const int size : {16, 48}) {
            const QString folder = here.filePath(QString("icons/hicolor/%1x%1/apps").arg(size));
            QImage picture(size, size, QImage::Format_ARGB32);
            picture.fill(Qt::darkCyan);
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(picture.save(folder + "/movexa.png"));
        }
        QVERIFY(QDir().mkpath(here.filePath("cwd")));
        QImage motor(32, 32, QImage::Format_ARGB32);
        motor.fill(Qt::darkRed);
        if (localPicture)
            QVERIFY(motor.save(here.filePath("cwd/motor.png")));
        const QString before = QDir::currentPath();
        const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS"), dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_DIRS", here.path().toUtf8());
        qputenv("XDG_DATA_HOME", here.filePath("home").toUtf8());
        QDir::setCurrent(here.filePath("cwd"));
        const QIcon icon = WindowIcon();
        QDir::setCurrent(before);
        qputenv("XDG_DATA_DIRS", dataDirs);
        qputenv("XDG_DATA_HOME", dataHome);
        QStringList got;
        for (const QSize &size : icon.availableSizes())
            got << QString::number(size.width());
        QCOMPARE(got.join(' '), sizes);
    }
};

QTEST_MAIN(TestProgram)
#include "test_program.moc"
