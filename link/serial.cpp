#include "link/serial.h"

#include "link/portlist.h"

#include <QDebug>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace {
// A pseudo-terminal has no modem lines: asking it for DTR only fails with
// "Inappropriate ioctl for device", an error no real converter produces.
bool IsPseudoTerminal(QSerialPort *port)
{
#ifdef Q_OS_LINUX
    struct stat st;
    if (::fstat(static_cast<int>(port->handle()), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned int majorNumber = major(st.st_rdev);
    return majorNumber >= 136 && majorNumber <= 143;  // Unix 98 pty slaves
#else
    Q_UNUSED(port);
    return false;
#endif
}
}  // namespace

Serial_c::Serial_c(QObject *parent, const QString &pid)
    : QObject(parent)
    , port(new QSerialPort(this))
    , ring(new RxRing)
    , productId(pid)
{
    connect(port, &QSerialPort::readyRead, this, &Serial_c::ReadData);
    connect(port, SIGNAL(errorOccurred(QSerialPort::SerialPortError)), this, SLOT(ReactToError()));
}

Serial_c::~Serial_c()
{
    // Closing the port on destruction must not reach the receivers any more.
    port->disconnect(this);
    delete ring;
}

bool Serial_c::IsOpen() const
{
    return port->isOpen();
}

QString Serial_c::PortName() const
{
    return port->portName();
}

void Serial_c::SetPortName(const QString &name)
{
    port->setPortName(name);
}

void Serial_c::Mute()
{
    muted = true;
}

void Serial_c::Unmute()
{
    muted = false;
}

bool Serial_c::CheckPid()
{
    for (const PortEntry &p : AvailablePorts()) {
        if (UsbIdText(p.productId) == productId) {
            qDebug() << "Found port with PID " << productId;
            port->setPortName(p.name);
            return true;
        }
    }
    return false;
}

int Serial_c::OpenPort(bool open)
{
    if (!open) {
        ClosePort();
        return 0;
    }
    if (!port->open(QIODevice::ReadWrite)) {
        qDebug() << "Error" << port->errorString();
        emit ConnectionChanged(false);
        return 0;
    }
    const bool configured = port->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections)
        && port->setDataBits(QSerialPort::Data8) && port->setParity(QSerialPort::NoParity)
        && port->setStopBits(QSerialPort::OneStop)
        && port->setFlowControl(QSerialPort::NoFlowControl);
    // A device that vanishes during set-up has been reported and closed by
    // HandleError already; it must not be reported a second time, nor as open.
    if (!configured && port->isOpen()) {
        // Read the reason before close() resets it.
        const QString reason = port->errorString();
        ClosePort();
        qDebug() << "Error" << reason;
        emit ConnectionChanged(false);
        return 0;
    }
    if (port->isOpen() && !IsPseudoTerminal(port))
        port->setDataTerminalReady(true);
    const bool opened = port->isOpen();
    qDebug() << "Serial port open: " << opened;
    if (!opened)
        return 0;
    emit ConnectionChanged(true);
    return 1;
}

void Serial_c::Write(QString str)
{
    if (muted || !port->isOpen())
        return;
    QByteArray bytes = str.toUtf8();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    port->write(bytes);
}

void Serial_c::WriteLn(QString str)
{
    Write(str + "\n");
}

void Serial_c::ReadData()
{
    ProcessBytes(port->readAll());
}

void Serial_c::ProcessBytes(const QByteArray &bytes)
{
    int lineFeeds = 0;
    bool full = false;
    for (const char byte : bytes) {
        if (byte == '\n')
            ++lineFeeds;
        if (full)
            continue;
        const std::int32_t next = (ring->writePos + 1) % ring->size;
        if (next == ring->readPos) {
            full = true;  // the rest of this read is lost
            continue;
        }
        ring->cells[ring->writePos] = static_cast<std::int32_t>(static_cast<signed char>(byte));
        ring->writePos = next;
    }
    if (lineFeeds >= 1)
        ExtractLines(lineFeeds);
}

namespace {
bool HoldsLineFeed(const RxRing &ring, std::int32_t end)
{
    for (std::int32_t i = ring.readPos; i != end; i = (i + 1) % ring.size)
        if ((ring.cells[i] & 0xFF) == '\n')
            return true;
    return false;
}
}  // namespace

void Serial_c::ExtractLines(int count)
{
    for (int n = 0; n < count; ++n) {
        // A line never reads past what had arrived when it started, so after a
        // full ring dropped bytes it cannot contain bytes never received. Line
        // feeds lost with those bytes leave nothing to cut once the ring is empty.
        const std::int32_t end = ring->writePos;
        if (ring->readPos == end)
            return;
        char line[kMaxLine];
        int length = 0;
        while (length < kMaxLine && ring->readPos != end) {
            const char byte = static_cast<char>(ring->cells[ring->readPos] & 0xFF);
            ring->readPos = (ring->readPos + 1) % ring->size;
            if (byte == '\r')
                continue;
            line[length++] = byte;
            if (byte == '\n')
                break;
        }
        int textLength = 0;
        while (textLength < length && line[textLength] != '\0')
            ++textLength;
        emit LineReceived(QString::fromUtf8(line, textLength));
        // A line cut at the length limit leaves its line feed in the ring. That
        // line feed was counted for this cut, so cut on: otherwise every later
        // reply would be handed on late, for good (after a burst of noise, by
        // a dozen lines).
        if (length == kMaxLine && line[kMaxLine - 1] != '\n' && HoldsLineFeed(*ring, end))
            --n;
    }
}

void Serial_c::ReactToError()
{
    HandleError(port->error());
}

void Serial_c::HandleError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError)
        return;
    // A hung-up device (pulled USB cable, closed pseudo-terminal) shows on
    // Linux as a stream of read errors rather than one resource error; both
    // mean the device is gone. Report once and close, or the event loop spins.
    // The same codes from a port that is not open (a failed open) or from our
    // own close are ordinary port errors.
    const bool deviceGone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (deviceGone && port->isOpen() && !closing) {
        qDebug() << "Cable disconnected.";
        emit ConnectionChanged(false);
        ClosePort();
        return;
    }
    qDebug() << "Port error: " << port->errorString();
}

void Serial_c::ClosePort()
{
    // close() on a closed port would raise a "not open" error of its own.
    if (!port->isOpen() || closing)
        return;
    closing = true;
    port->close();
    closing = false;
}
