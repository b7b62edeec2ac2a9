#include "support/testsupport.h"

#include <QFile>

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

QList<QByteArray> Lines(const QByteArray &bytes)
{
    QList<QByteArray> out = bytes.split('\n');
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
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
