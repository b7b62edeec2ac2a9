#include "sim/ptymaster.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QVector>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyMaster::PtyMaster(QObject *parent)
    : QObject(parent)
{
}

PtyMaster::~PtyMaster()
{
    Close();
}

namespace {
// A serial port that another process has just closed may still have its lock
// file for a moment after the kernel hands its pseudo-terminal number out
// again; a port opened on that number is then refused as locked.
bool LockFileExists(const char *slave)
{
    QString name = QString::fromLocal8Bit(slave);
    if (name.startsWith("/dev/"))
        name = name.mid(5);
    const QString lock = "LCK.." + name.replace('/', '_');
    for (const char *dir : {"/var/lock", "/run/lock", "/tmp", "/var/spool/locks", "/etc/locks"}) {
        QFile file(QString::fromLatin1(dir) + '/' + lock);
        if (!file.exists())
            continue;
        // A lock whose process is gone (a panel that was killed) is stale: the
        // port opens over it, so it must not use up the numbers tried here.
        bool ok = false;
        const qint64 pid = file.open(QIODevice::ReadOnly) ? file.readLine().trimmed().toLongLong(&ok) : 0;
        if (ok && pid > 0 && pid <= 0x7fffffff && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            continue;
        return true;
    }
    return false;
}
}  // namespace

bool PtyMaster::Open()
{
    Close();
    error.clear();
    // Numbers with a leftover lock are held open while the next one is tried,
    // so the kernel does not hand the same number back.
    QVector<int> locked;
    int m = -1;
    const char *name = nullptr;
    for (int attempt = 0; attempt < 16; ++attempt) {
        m = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0 || !(name = ptsname(m))) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            if (m >= 0)
                ::close(m);
            m = -1;
            break;
        }
        if (!LockFileExists(name))
            break;
        locked.append(m);
        m = -1;
    }
    for (int held : locked)
        ::close(held);
    if (m < 0) {
        if (error.isEmpty())
            error = "every pseudo-terminal offered is locked";
        return false;
    }
    // Holding the slave open ourselves keeps the master readable while the
    // panel has the port closed; otherwise reads fail with EIO between a
    // close and the next open.
    slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    // Raw mode on the line discipline: no echo, no CR/LF translation, so the
    // bytes the panel writes arrive here unchanged and vice versa.
    termios tio {};
    if (tcgetattr(m, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m, TCSANOW, &tio);
    }
    return Adopt(m, QString::fromLocal8Bit(name));
}

bool PtyMaster::Adopt(int descriptor, const QString &path)
{
    if (descriptor < 0)
        return false;
    fd = descriptor;
    slavePath = path;
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &PtyMaster::OnReadable);
    writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, &PtyMaster::OnWritable);
    return true;
}

bool PtyMaster::OpenDevice(const QString &path)
{
    Close();
    const int d = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (d < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    termios tio {};
    if (tcgetattr(d, &tio) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(d);
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (tcsetattr(d, TCSANOW, &tio) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(d);
        return false;
    }
    return Adopt(d, path);
}

void PtyMaster::Write(const QByteArray &bytes)
{
    if (fd < 0)
        return;
    pending += bytes;
    OnWritable();
}

void PtyMaster::OnWritable()
{
    while (fd >= 0 && !pending.isEmpty()) {
        const ssize_t n = ::write(fd, pending.constData(), static_cast<size_t>(pending.size()));
        if (n > 0) {
            pending.remove(0, static_cast<int>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;  // EAGAIN: wait for the notifier
    }
    if (writeNotifier)
        writeNotifier->setEnabled(fd >= 0 && !pending.isEmpty());
}

void PtyMaster::OnReadable()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            const QByteArray chunk(buf, static_cast<int>(n));
            received += chunk;
            emit BytesReceived(chunk);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // End of file or EIO: the other side is gone for good (a null-modem
        // end closed). Stop the notifier so it does not fire continuously.
        if (readNotifier)
            readNotifier->setEnabled(false);
        emit HungUp();
        return;
    }
}

QByteArray PtyMaster::TakeReceived()
{
    QByteArray out;
    out.swap(received);
    return out;
}

void PtyMaster::Close()
{
    delete readNotifier;
    readNotifier = nullptr;
    delete writeNotifier;
    writeNotifier = nullptr;
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    if (slaveFd >= 0)
        ::close(slaveFd);
    slaveFd = -1;
    pending.clear();
}
