#pragma once

// The one place that lists the system's serial ports. Port discovery and the
// operator's port list both walk this list; tests replace the provider with
// their own entries so that discovery can be tested without hardware.

#include <QList>
#include <QString>
#include <functional>

struct PortEntry
{
    QString name;          // e.g. "ttyUSB0"; what QSerialPort::setPortName takes
    QString description;
    QString manufacturer;
    QString systemLocation;
    quint16 vendorId = 0;  // 0: the port reports no USB identifier
    quint16 productId = 0;
};

using PortListProvider = std::function<QList<PortEntry>()>;

// The entries for ports as the system describes them; Info has QSerialPortInfo's accessors, so
// tests feed the mapping their own descriptions. A USB id the port does not report is 0.
template <typename Info>
QList<PortEntry> PortEntriesFrom(const QList<Info> &infos)
{
    QList<PortEntry> ports;
    for (const Info &info : infos) {
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

// The ports AvailablePorts() lists: the system's unless a provider is set.
QList<PortEntry> AvailablePorts();
// The system's ports, in the order the system gives them, whatever provider
// is set; for providers that add entries to them.
QList<PortEntry> SystemPorts();

// Replaces the source of AvailablePorts(); an empty function restores the
// system's list. Returns the previous provider.
PortListProvider SetPortListProvider(PortListProvider provider);

// A USB identifier as lowercase hexadecimal without prefix or leading zeros;
// 0 (no identifier) gives the empty string.
QString UsbIdText(quint16 id);
