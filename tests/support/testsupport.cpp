#include "support/testsupport.h"

#include <QFile>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {
bool IsPlatformNoise(const QString &text)
{
    return text.contains("XDG_RUNTIME_DIR not set") || text.contains("propagateSizeHints()");
}

// Two handlers: QTest hands messages that come after its log has closed back to the handler it
// found, which must then not lead back to QTest's.
void ToStderr(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!IsPlatformNoise(text))
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}
[[maybe_unused]] const QtMessageHandler kStartUp = qInstallMessageHandler(ToStderr);

QtMessageHandler testLog = nullptr;
void ToTestLog(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!IsPlatformNoise(text))
        testLog(type, context, text);
}
}  // namespace

void FilterPlatformNoise()
{
    const QtMessageHandler previous = qInstallMessageHandler(ToTestLog);
    if (previous != ToTestLog)
        testLog = previous;
}

bool LinkCarriesLines(Serial_c *serial, PtyMaster &pty)
{
    static bool seenDead = false;
    QSignalSpy lines(serial, &Serial_c::LineReceived);
    serial->WriteLn("#probe");
    pty.Write("#probe\n");
    // A pty round trip takes milliseconds; 3 s allow for a loaded machine.
    seenDead = seenDead || !QTest::qWaitFor([&] {
        return pty.Received().endsWith("#probe\n") && lines.contains({"#probe\n"});
    }, 3000);
    pty.TakeReceived();
    return !seenDead;
}

PortEntry PtyPortEntry(const PtyMaster &pty, quint16 productId)
{
    PortEntry e;
    // Listed as the system lists ports: the name without "/dev/" ("pts/3"),
    // which is also what QSerialPort reports back as its port name.
    e.name = pty.SlavePath().startsWith("/dev/") ? pty.SlavePath().mid(5) : pty.SlavePath();
    e.description = "pseudo-terminal";
    e.manufacturer = "test";
    e.systemLocation = pty.SlavePath();
    e.vendorId = 0x0403;
    e.productId = productId;
    return e;
}

ScopedPortList::ScopedPortList(QList<PortEntry> ports)
{
    previous = SetPortListProvider([ports] { return ports; });
}

ScopedPortList::~ScopedPortList()
{
    SetPortListProvider(previous);
}

QByteArray ReadFileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool WriteFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

WindowRig::WindowRig(bool listed)
    : ptyOpen(pty.Open()), ports(listed ? QList<PortEntry>{PtyPortEntry(pty)} : QList<PortEntry>())
{
}

bool WindowRig::OpenQuietly(bool open)
{
    p.pollTimer()->stop();
    const QSignalBlocker quiet(p.serial());
    p.serial()->SetPortName(pty.SlavePath());
    return p.serial()->OpenPort(open) == int(open);
}
