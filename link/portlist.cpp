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
    QList<PortEntry> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        PortEntry e;
        e.name = info.portName();
        e.description = info.description();
        e.manufacturer = info.manufacturer();
        e.systemLocation = info.systemLocation();
        e.vendorId = info.hasVendorIdentifier() ? info.vendorIdentifier() : 0;
        e.productId = info.hasProductIdentifier() ? info.productIdentifier() : 0;
        ports.append(e);
    }
    return ports;
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
