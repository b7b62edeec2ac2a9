#include "link/portlist.h"

#include <QSerialPortInfo>

namespace {
PortListProvider &Provider()
{
    static PortListProvider provider;
    return provider;
}

}  // namespace

QList<PortEntry> SystemPorts()
{
    return PortEntriesFrom(QSerialPortInfo::availablePorts());
}

QList<PortEntry> AvailablePorts()
{
    if (Provider())
        return Provider()();
    return SystemPorts();
}

PortListProvider SetPortListProvider(PortListProvider provider)
{
    PortListProvider previous = std::move(Provider());
    Provider() = std::move(provider);
    return previous;
}

QString UsbIdText(quint16 id)
{
    return id == 0 ? QString() : QString::number(id, 16);
}
