#include "link/portlist.h"
#include "link/sysfsports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// How a USB string reaches Qt through udev: characters outside udev's safe
// set become '_', which Qt shows as a blank.
QString UdevSpelling(QString s)
{
    for (QChar &c : s)
        if (c.unicode() > 127 || (!c.isLetterOrNumber() && !QStringLiteral("#+-.:=@").contains(c)))
            c = ' ';
    return s.simplified();
}

bool WriteFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).path()) && f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}
}  // namespace

class TestPorts : public QObject
{
    Q_OBJECT

private slots:
    void matchesQtOnThisMachine();
    void fakeTree();
};

void TestPorts::matchesQtOnThisMachine()
{
    const QList<PortEntry> ours = AvailablePorts();
    QList<QSerialPortInfo> qt;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        // Qt checks for a UART only behind the serial8250 driver, which newer
        // kernels hide behind a port device; an empty slot is never listed.
        QFile type("/sys/class/tty/" + info.portName() + "/type");
        if (!type.open(QIODevice::ReadOnly) || type.readAll().trimmed() != "0")
            qt.append(info);
    }
    QCOMPARE(ours.size(), qt.size());
    for (int i = 0; i < qt.size(); ++i) {
        const PortEntry &p = ours.at(i);
        const QSerialPortInfo &q = qt.at(i);
        QCOMPARE(p.name, q.portName());
        QCOMPARE(p.systemLocation, q.systemLocation());
        // Qt's identity comes from udev's database, absent where udevd does
        // not run; for PCI cards it holds PCI ids, which are not USB ids.
        if (!QFileInfo("/sys/class/tty/" + q.portName()).canonicalFilePath().contains("/usb"))
            continue;
        if (q.hasVendorIdentifier() && q.hasProductIdentifier()) {
            QCOMPARE(p.vendorId, q.vendorIdentifier());
            QCOMPARE(p.productId, q.productIdentifier());
        }
        if (!q.description().isEmpty())
            QCOMPARE(UdevSpelling(p.description), UdevSpelling(q.description()));
        if (!q.manufacturer().isEmpty())
            QCOMPARE(UdevSpelling(p.manufacturer), UdevSpelling(q.manufacturer()));
    }
}

void TestPorts::fakeTree()
{
    QTemporaryDir tmp;
    const QString root = tmp.path() + '/';
    const QString usb = "devices/pci0000:00/0000:00:14.0/usb1/";
    const QList<QPair<QString, QByteArray>> attributes = {
        {usb + "idVendor", "1d6b\n"}, {usb + "idProduct", "0002\n"},  // the root hub is not the nearest
        {usb + "1-2/idVendor", "0403\n"}, {usb + "1-2/idProduct", "6015\n"},
        {usb + "1-2/product", " FT230X  Basic UART\n"}, {usb + "1-2/manufacturer", "FTDI\n"},
        {usb + "1-1/idVendor", "1a86\n"}, {usb + "1-1/idProduct", "7523\n"},
        {"devices/pnp0/00:01/tty/ttyS0/type", "4\n"},
        {"devices/platform/serial8250/tty/ttyS1/type", "0\n"},  // no UART in this slot
    };
    const QStringList ttys[] = {  // class entry, its directory, its parent device
        {"ttyUSB0", usb + "1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0", usb + "1-2/1-2:1.0/ttyUSB0"},
        {"ttyACM0", usb + "1-1/1-1:1.0/tty/ttyACM0", usb + "1-1/1-1:1.0"},
        {"ttyS0", "devices/pnp0/00:01/tty/ttyS0", "devices/pnp0/00:01"},
        {"ttyS1", "devices/platform/serial8250/tty/ttyS1", "devices/platform/serial8250"},
        {"tty1", "devices/virtual/tty/tty1", {}},
        {"rfcomm0", "devices/virtual/tty/rfcomm0", {}},
    };
    QVERIFY(tmp.isValid() && QDir().mkpath(root + "class/tty"));
    for (const auto &a : attributes)
        QVERIFY(WriteFile(root + a.first, a.second));
    for (const QStringList &t : ttys) {
        QVERIFY(QDir().mkpath(root + t[1]) && QFile::link(root + t[1], root + "class/tty/" + t[0]));
        QVERIFY(t[2].isEmpty() || QFile::link(root + t[2], root + t[1] + "/device"));
    }

    const std::optional<QList<PortEntry>> ports = SysfsPorts(QFile::encodeName(tmp.path()));
    QVERIFY(ports);
    QStringList listed;
    for (const PortEntry &p : *ports)
        listed << QStringList{p.name, p.description, p.manufacturer, p.systemLocation,
                              UsbIdText(p.vendorId), UsbIdText(p.productId)}.join('|');
    // Ordered by device path; missing USB strings read as the ids, as udev has them.
    QCOMPARE(listed, QStringList({"ttyACM0|7523|1a86|/dev/ttyACM0|1a86|7523",
                                  "ttyUSB0|FT230X Basic UART|FTDI|/dev/ttyUSB0|403|6015",
                                  "ttyS0|||/dev/ttyS0||", "rfcomm0|||/dev/rfcomm0||"}));
    QVERIFY(!SysfsPorts(QFile::encodeName(root + "missing")));
}

QTEST_GUILESS_MAIN(TestPorts)
#include "test_ports.moc"
