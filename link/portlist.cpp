#include "link/portlist.h"
#include "link/sysfsports.h"

#include <QSerialPortInfo>

#ifdef Q_OS_LINUX
#include <QDir>
#include <QFile>
#include <QSet>
#include <algorithm>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#endif

namespace {
PortListProvider &Provider()
{
    static PortListProvider provider;
    return provider;
}

QList<PortEntry> QtPorts()
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

#ifdef Q_OS_LINUX
// A sysfs attribute, trimmed; empty when it does not exist.
QByteArray ReadAttribute(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buf[512];  // USB strings are at most 126 UTF-16 units
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    return n > 0 ? QByteArray(buf, int(n)).trimmed() : QByteArray();
}

// Where a sysfs link leads, under the same root. sysfs links are relative and
// end at the canonical directory, so resolving them textually is enough and
// spares realpath's system call per path component.
QByteArray LinkTarget(const QByteArray &link)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(link.constData(), buf, sizeof buf);
    if (n <= 0 || n == ssize_t(sizeof buf))
        return {};
    const QByteArray target(buf, int(n));
    if (target.startsWith('/'))
        return target;
    return QFile::encodeName(QDir::cleanPath(QFile::decodeName(link.left(link.lastIndexOf('/') + 1) + target)));
}

// The entry names of a directory; false when it cannot be read.
bool ListDir(const QByteArray &path, QSet<QByteArray> &names)
{
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return false;
    while (const dirent *d = ::readdir(dir))
        if (d->d_name[0] != '.')
            names.insert(d->d_name);
    ::closedir(dir);
    return true;
}

bool Exists(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0;
}

// Ports that have no parent device but are listed all the same: Bluetooth
// RFCOMM, the tty0tty null modem and USB gadget serial.
bool ListedWithoutDevice(const QByteArray &name)
{
    if (name.startsWith("rfcomm")) {
        bool ok = false;
        const int n = name.mid(6).toInt(&ok);
        return ok && n >= 0 && n <= 255;
    }
    return name.startsWith("tnt") || name.startsWith("ttyGS");
}

// Component-wise, so that ".../1-1/..." sorts before ".../1-1.2/...".
bool PathLess(const QByteArray &a, const QByteArray &b)
{
    const QList<QByteArray> pa = a.split('/');
    const QList<QByteArray> pb = b.split('/');
    return std::lexicographical_compare(pa.begin(), pa.end(), pb.begin(), pb.end());
}

// Identity from the nearest USB device above the port, as udev's usb_id gives
// it: a missing product or manufacturer string falls back to the id's text.
void FillUsbIdentity(QByteArray dir, const QByteArray &sysRoot, PortEntry &port)
{
    for (; dir.size() > sysRoot.size() && dir.startsWith(sysRoot); dir.truncate(dir.lastIndexOf('/'))) {
        const QByteArray vendor = ReadAttribute(dir + "/idVendor");
        if (vendor.isEmpty())
            continue;
        const QByteArray product = ReadAttribute(dir + "/idProduct");
        port.vendorId = vendor.toUShort(nullptr, 16);
        port.productId = product.toUShort(nullptr, 16);
        const QByteArray model = ReadAttribute(dir + "/product");
        const QByteArray maker = ReadAttribute(dir + "/manufacturer");
        port.description = QString::fromUtf8(model.isEmpty() ? product : model).simplified();
        port.manufacturer = QString::fromUtf8(maker.isEmpty() ? vendor : maker).simplified();
        return;
    }
}
#endif
}  // namespace

std::optional<QList<PortEntry>> SysfsPorts(const QByteArray &sysRoot)
{
#ifdef Q_OS_LINUX
    const QByteArray root = QFile::encodeName(QDir::cleanPath(QFile::decodeName(sysRoot)));
    const QByteArray classDir = root + "/class/tty";
    QSet<QByteArray> names;
    if (!ListDir(classDir, names))
        return std::nullopt;
    // Consoles and ptys have no parent device, which puts them under
    // devices/virtual: one directory read spares a stat for each of the dozens.
    QSet<QByteArray> parentless;
    ListDir(root + "/devices/virtual/tty", parentless);
    std::vector<std::pair<QByteArray, PortEntry>> found;  // device path, port
    for (const QByteArray &name : qAsConst(names)) {
        const QByteArray entry = classDir + '/' + name;
        const bool hasDevice = !parentless.contains(name) && Exists(entry + "/device");
        if (!hasDevice && !ListedWithoutDevice(name))
            continue;
        // Type 0 is a serial8250 slot with no UART behind it. Read from sysfs
        // rather than by opening the port, which would toggle its DTR line.
        if (hasDevice && ReadAttribute(entry + "/type") == "0")
            continue;
        QByteArray path = LinkTarget(entry);
        if (path.isEmpty())
            path = entry;
        PortEntry port;
        port.name = QString::fromUtf8(name);
        port.systemLocation = QStringLiteral("/dev/") + port.name;
        if (hasDevice)
            FillUsbIdentity(LinkTarget(path + "/device"), root, port);
        found.emplace_back(path, port);
    }
    std::sort(found.begin(), found.end(),
              [](const auto &a, const auto &b) { return PathLess(a.first, b.first); });
    QList<PortEntry> ports;
    for (const auto &f : found)
        ports.append(f.second);
    return ports;
#else
    Q_UNUSED(sysRoot);
    return std::nullopt;
#endif
}

QList<PortEntry> AvailablePorts()
{
    if (Provider())
        return Provider()();
    // Qt's own enumeration goes through udev and costs tens of milliseconds,
    // most of the panel's start-up; sysfs gives the same list far cheaper.
    if (std::optional<QList<PortEntry>> ports = SysfsPorts("/sys"))
        return *ports;
    return QtPorts();
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
