#include "remote/remoteserver.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

void Log(const QString &line)
{
    qWarning().noquote() << "movexa:" << line;
}

enum class Occupant { None, Stale, Live, NotASocket };

// Who holds path: a panel that accepts connections, a socket file nobody
// listens on any more (a crashed panel), or something that is no socket.
Occupant OccupantOf(const QString &path)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) != 0)
        return Occupant::None;
    if (!S_ISSOCK(st.st_mode))
        return Occupant::NotASocket;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() >= int(sizeof address.sun_path))
        return Occupant::Live;  // cannot tell; never take it over
    qstrncpy(address.sun_path, name.constData(), sizeof address.sun_path);
    // Non-blocking: a full backlog must not hold up the panel's start.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Occupant::Live;
    const int result = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    const int why = errno;
    ::close(fd);
    // Only a refusal proves that nobody listens; a full backlog or a
    // permission error means someone might.
    return result != 0 && why == ECONNREFUSED ? Occupant::Stale : Occupant::Live;
#else
    return QFileInfo::exists(path) ? Occupant::Live : Occupant::None;
#endif
}

bool MakeOwnerOnly(const QString &folder)
{
    return QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

RemoteServer_c::RemoteServer_c(StageControl_c *stage, QObject *parent)
    : QObject(parent)
    , handler(stage)
    , server(new QLocalServer(this))
#ifdef Q_OS_LINUX
    , ownerUid(::geteuid())
#endif
{
    connect(server, &QLocalServer::newConnection, this, &RemoteServer_c::Accept);
    connect(&handler, &RequestHandler_c::Deliver, this, &RemoteServer_c::Write);
}

RemoteServer_c::~RemoteServer_c()
{
    // Clients see the end of the stream; the socket file goes with the server.
    const QList<int> ids = clients.keys();
    for (int id : ids) {
        QLocalSocket *socket = clients.take(id)->socket;
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
    server->close();
}

bool RemoteServer_c::Listen(const QString &socketPath, bool privateFolder)
{
    path = socketPath;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder) || !MakeOwnerOnly(folder)) {
            error = "cannot create " + folder;
            return false;
        }
    } else if (privateFolder && !MakeOwnerOnly(folder)) {
        error = "cannot make " + folder + " private";
        return false;
    }
    lock = std::make_unique<QLockFile>(path + ".lock");
    lock->setStaleLockTime(0);  // stale only when its panel is gone, however young
    if (!lock->tryLock(0)) {
        error = lock->error() == QLockFile::LockFailedError
                    ? "another panel is listening on " + path
                    : "cannot create " + path + ".lock";
        lock.reset();
        return false;
    }
    switch (OccupantOf(path)) {
    case Occupant::Live:
        error = "another panel is listening on " + path;
        lock.reset();
        return false;
    case Occupant::NotASocket:
        error = path + " exists and is not a socket";
        lock.reset();
        return false;
    case Occupant::Stale:
        QFile::remove(path);  // left by a panel that did not end cleanly
        break;
    case Occupant::None:
        break;
    }
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        error = "cannot listen on " + path + ": " + server->errorString();
        lock.reset();
        return false;
    }
    return true;
}

bool RemoteServer_c::PeerAllowed(QLocalSocket *socket) const
{
#ifdef Q_OS_LINUX
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        Log("refused a control connection whose user cannot be told");
        return false;
    }
    if (peer.uid != ownerUid) {
        Log(QString("refused a control connection from uid %1 (pid %2)").arg(peer.uid).arg(peer.pid));
        return false;
    }
#else
    Q_UNUSED(socket)
#endif
    return true;
}

void RemoteServer_c::Accept()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        if (!PeerAllowed(socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const int id = handler.AddClient();
        socket->setParent(this);
        // Qt stops taking bytes from the system beyond this, so a client that
        // floods the panel cannot grow its memory either.
        socket->setReadBufferSize(kMaxUnread);
        clients.insert(id, std::make_shared<Client>(Client{socket, {}, false}));
        connect(socket, &QLocalSocket::readyRead, this, [this, id] { Read(id); });
        connect(socket, &QLocalSocket::disconnected, this, [this, id] { Drop(id); });
        if (socket->bytesAvailable() > 0)
            Read(id);
    }
}

void RemoteServer_c::Read(int id)
{
    const std::shared_ptr<Client> c = clients.value(id);
    if (!c)
        return;
    const auto gone = [&] { return c->closing || !clients.contains(id); };
    QLocalSocket *socket = c->socket;
    while (socket->bytesAvailable() > 0 && !gone()) {
        // Read in pieces, so an endless line costs no more than the limit.
        c->pending += socket->read(kMaxLine + 1);
        int start = 0;
        for (int end; (end = c->pending.indexOf('\n', start)) >= 0; start = end + 1) {
            // A CR before the LF is JSON white space: such lines parse as they are.
            const QByteArray line = c->pending.mid(start, end - start);
            if (line.size() > kMaxLine)
                break;  // answered below like an unfinished one
            if (line.trimmed().isEmpty())
                continue;
            const QByteArray reply = handler.HandleLine(id, line);
            if (!reply.isEmpty())
                Write(id, reply);
            if (gone())
                return;
        }
        c->pending.remove(0, start);
        const int newline = c->pending.indexOf('\n');
        if ((newline < 0 ? c->pending.size() : newline) > kMaxLine) {
            Write(id, RequestHandler_c::ErrorLine(
                          QJsonValue::Null, RequestHandler_c::kInvalidRequest,
                          QString("line longer than %1 bytes; closing").arg(kMaxLine)));
            c->closing = true;
            c->pending.clear();
            if (clients.contains(id))
                socket->disconnectFromServer();  // after the reply has gone out
            return;
        }
    }
}

void RemoteServer_c::Write(int id, const QByteArray &line)
{
    const std::shared_ptr<Client> c = clients.value(id);
    if (!c || c->closing)
        return;
    QLocalSocket *socket = c->socket;
    socket->write(line);
    if (socket->bytesToWrite() > kMaxUnread) {
        // A client that does not read would hold ever more of the panel's memory.
        Log(QString("dropped a control client that left %1 bytes unread").arg(socket->bytesToWrite()));
        Drop(id);
    }
}

void RemoteServer_c::Drop(int id)
{
    const std::shared_ptr<Client> c = clients.take(id);
    if (!c)
        return;
    QLocalSocket *socket = c->socket;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    // Later: this may run inside the handler's own loop over its clients.
    QMetaObject::invokeMethod(
        &handler, [this, id] { handler.RemoveClient(id); }, Qt::QueuedConnection);
}
