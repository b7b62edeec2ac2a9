#pragma once

// Shared by the suites and two benchmarks: read access to the window's members, the window
// wired to a pseudo-terminal peer, whole files, settings records compared field by field.

#include "app/mainwindow.h"
#include "link/portlist.h"
#include "link/serial.h"
#include "settings/appsettings.h"
#include "sim/ptymaster.h"

#include <QFile>
#include <QMessageLogContext>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QTest>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <sys/stat.h>

// Warnings the platform prints on every run (no session folder when run as root, the offscreen
// platform's missing size hints) would bury a FAIL line. The tests drop them; everything else,
// the product's own messages included, passes on.
inline bool IsPlatformNoise(const QString &text)
{
    return text.contains("XDG_RUNTIME_DIR not set") || text.contains("propagateSizeHints()");
}
inline void NoiseFreeStderr(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!IsPlatformNoise(text))
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}
// Installed before the application object, whose construction warns.
inline const QtMessageHandler kNoiseFreeStartUp = qInstallMessageHandler(NoiseFreeStderr);
// Messages during the tests go to QTest's log, whose handler QTest installs when they start.
// Apart from the start-up handler, so that QTest handing late messages back cannot loop.
inline QtMessageHandler testLogHandler = nullptr;
inline void NoiseFreeTestLog(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!IsPlatformNoise(text))
        testLogHandler(type, context, text);
}
// Call from initTestCase.
inline void FilterPlatformNoise()
{
    testLogHandler = qInstallMessageHandler(NoiseFreeTestLog);
}

// The tests' friend of MainWindow: the members the suites look at.
class MainWindowProbe
{
public:
    explicit MainWindowProbe(MainWindow *w) : w(w) {}
    MainWindowUi *ui() const { return w->ui; }
    Serial_c *serial() const { return w->serial; }
    QTimer *pollTimer() const { return w->pollTimer; }
    QTimer *loopTimer() const { return w->loopTimer; }
    double &posOffset() const { return w->posOffset; }
    int loopEnd() const { return w->loopEnd; }
    void SetStageType(int t) const { w->SetStageType(t); }

private:
    MainWindow *w;
};

// A pseudo-terminal listed as the system lists ports (the name without "/dev/", "pts/3", which
// is also what QSerialPort reports back), claiming the controller's USB product id by default,
// so the window's start-up discovery and the port list find it.
inline PortEntry PtyPortEntry(const PtyMaster &pty, quint16 productId = 0x6015)
{
    const QString path = pty.SlavePath();
    return {path.startsWith("/dev/") ? path.mid(5) : path, "pseudo-terminal", "test", path, 0x0403,
            productId};
}

// Installs a port list for the lifetime of the object, restoring the system's list afterwards.
struct ScopedPortList
{
    explicit ScopedPortList(QList<PortEntry> ports)
        : previous(SetPortListProvider([ports] { return ports; })) {}
    ~ScopedPortList() { SetPortListProvider(previous); }
    const PortListProvider previous;
};

// A whole file's bytes ("<unreadable>" when it cannot be opened).
inline QByteArray ReadFileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// A file replaced by the given bytes; false when that fails.
inline bool WriteFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The fields of to that differ from from's (NaN included), as "name=value" in the record's order.
inline QStringList ChangedFields(const AppSettings_c &from, const AppSettings_c &to)
{
#define F(key) {#key, &AppSettings_c::key}
    static const QPair<const char *, double AppSettings_c::*> fields[] = {F(offset), F(refPos),
        F(maxSpeed), F(accel), F(decel), F(holdTorque), F(posA), F(speedA), F(timeA), F(useA),
        F(posB), F(speedB), F(timeB), F(useB), F(posC), F(speedC), F(timeC), F(useC), F(posD),
        F(speedD), F(timeD), F(useD), F(loopCount), F(runLoopCont)};
#undef F
    QStringList changed;
    for (const auto &f : fields)
        if (!(to.*f.second == from.*f.second))
            changed << f.first + QString("=%1").arg(to.*f.second);
    return changed;
}

// A window and its pseudo-terminal peer. Listed: the window's start-up discovery
// finds the pty and opens it, connection set-up included; otherwise it finds nothing.
struct WindowRig
{
    explicit WindowRig(bool listed = false)
        : ptyOpen(pty.Open())
        , ports(listed ? QList<PortEntry>{PtyPortEntry(pty)} : QList<PortEntry>())
    {
    }
    // Opens (or closes) the link with polling stopped and without the connection
    // set-up, whose queries and later refresh would mix with what a test checks.
    bool OpenQuietly(bool open = true)
    {
        p.pollTimer()->stop();
        const QSignalBlocker quiet(p.serial());
        p.serial()->SetPortName(pty.SlavePath());
        return p.serial()->OpenPort(open) == int(open);
    }
    // Whether a line crosses the open link both ways, within what a loaded machine needs.
    bool CarriesLines()
    {
        QSignalSpy lines(p.serial(), &Serial_c::LineReceived);
        pty.Write("probe_1\n");  // no table row has this key: the parser ignores it
        p.serial()->WriteLn("?probe");
        const bool in = lines.wait(2000);
        const bool out = QTest::qWaitFor([this] { return pty.Received().contains("?probe\n"); }, 2000);
        pty.TakeReceived();
        return in && out;
    }

    PtyMaster pty;
    const bool ptyOpen;
    ScopedPortList ports;
    MainWindow w;
    MainWindowProbe p{&w};
    MainWindowUi *ui = p.ui();
};

// When a device node was made, in ns; -1 when there is none. A pseudo-terminal number that the
// kernel hands out again (to any process: tests run side by side) gets a new node, so a node
// whose time differs is not the pseudo-terminal that was there.
inline qint64 NodeMadeNs(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}
