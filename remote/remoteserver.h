#pragma once

// The panel's control socket: a local (Unix) socket for the user who runs
// the panel, one JSON request per line, handed to RequestHandler_c.

#include "remote/requesthandler.h"
#include "remote/socketpath.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;
class QLocalSocket;

class RemoteServer_c : public QObject
{
    Q_OBJECT

public:
    // Longest request line, without its line feed.
    static constexpr int kMaxLine = 64 * 1024;
    // Output a client may leave unread before it is dropped.
    static constexpr qint64 kMaxUnread = 1024 * 1024;

    explicit RemoteServer_c(StageControl_c *stage, QObject *parent = nullptr);
    ~RemoteServer_c() override;

    // Listens on path. privateFolder: the folder is the panel's own and is
    // made owner-only; another folder is only created (owner-only) when
    // missing. A live socket is never taken over; a stale one is replaced.
    bool Listen(const QString &path, bool privateFolder);
    QString ErrorString() const { return error; }
    QString SocketPath() const { return path; }
    RequestHandler_c &Handler() { return handler; }
    int ClientCount() const { return clients.size(); }

#ifdef Q_OS_LINUX
    // Peers must run as this user; the panel's own effective uid by default.
    void SetOwnerUid(unsigned uid) { ownerUid = uid; }
#endif

private:
    struct Client
    {
        QLocalSocket *socket;
        QByteArray pending;  // bytes of an unfinished line
        bool closing = false;
    };

    void Accept();
    void Read(int id);
    void Write(int id, const QByteArray &line);
    void Drop(int id);
    bool PeerAllowed(QLocalSocket *socket) const;

    RequestHandler_c handler;
    // Held while listening: two panels starting at once cannot both find the
    // path free and the later one replace the earlier's socket.
    std::unique_ptr<QLockFile> lock;
    QLocalServer *server;
    // Held by pointer: a reader keeps its client while a delivery drops others.
    QHash<int, std::shared_ptr<Client>> clients;
    QString path;
    QString error;
#ifdef Q_OS_LINUX
    unsigned ownerUid;
#endif
};
