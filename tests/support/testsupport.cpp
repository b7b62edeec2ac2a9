#include "support/testsupport.h"

#include <QFile>
#include <QSignalBlocker>
#include <QTimer>

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

#define F(key) {#key, &AppSettings_c::key}
static const QPair<const char *, double AppSettings_c::*> kFields[] = {F(offset), F(refPos),
    F(maxSpeed), F(accel), F(decel), F(holdTorque), F(posA), F(speedA), F(timeA), F(useA), F(posB),
    F(speedB), F(timeB), F(useB), F(posC), F(speedC), F(timeC), F(useC), F(posD), F(speedD),
    F(timeD), F(useD), F(loopCount), F(runLoopCont)};

QStringList ChangedFields(const AppSettings_c &from, const AppSettings_c &to)
{
    QStringList changed;
    for (const auto &f : kFields)
        if (!(to.*f.second == from.*f.second))  // NaN included
            changed << f.first + QString("=%1").arg(to.*f.second);
    return changed;
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
