#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// Whether another live process holds the serial port at devicePath (e.g.
// /dev/pts/3) locked with a "LCK.." file. Locks whose process is gone are
// stale and count as absent.
bool PortLockHeld(const QString &devicePath);

// The master end of a pseudo-terminal. The slave end is a serial device that
// QSerialPort opens like a real port; whatever is written on one side arrives
// on the other. Closing the master hangs the slave up, as an unplugged USB
// converter does.
class PtyMaster : public QObject
{
    Q_OBJECT
public:
    explicit PtyMaster(QObject *parent = nullptr);
    ~PtyMaster() override;

    // Creates the pair; false (with ErrorString) where no pty is available.
    bool Open();
    // Adopts an already open descriptor, e.g. one end of a null-modem pair.
    bool Adopt(int fd, const QString &path);
    // Opens a serial device (e.g. one end of a null-modem pair) in raw mode,
    // 115200 baud, 8N1, no flow control, and adopts it.
    bool OpenDevice(const QString &path);
    bool IsOpen() const { return fd >= 0; }
    // Path of the slave device, e.g. /dev/pts/3.
    QString SlavePath() const { return slavePath; }
    QString ErrorString() const { return error; }

    // Writes all bytes (the master is non-blocking; short writes are retried
    // by the event loop, never by spinning).
    void Write(const QByteArray &bytes);
    // Hangs up: closes the master.
    void Close();

    // Everything received since the last TakeReceived().
    QByteArray Received() const { return received; }
    QByteArray TakeReceived();

signals:
    void BytesReceived(const QByteArray &bytes);
    void HungUp();

private:
    void OnReadable();
    void OnWritable();

    int fd = -1;
    int slaveFd = -1;
    QString slavePath;
    QString error;
    QByteArray received;
    QByteArray pending;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
};
