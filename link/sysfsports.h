#pragma once

// Serial port discovery straight from sysfs, the Linux path of
// AvailablePorts(). Separate so that tests can run it over a fake tree.

#include "link/portlist.h"

#include <QByteArray>
#include <optional>

// The serial ports under sysRoot (normally "/sys"), ordered by their device
// path as udev lists them. Never opens a device. nullopt when
// sysRoot/class/tty cannot be read, and always on systems other than Linux.
std::optional<QList<PortEntry>> SysfsPorts(const QByteArray &sysRoot);
