#pragma once

// The control protocol without a transport: JSON-RPC 2.0 requests, one per
// line, from numbered clients; replies returned or delivered later; status
// notifications to subscribers; the one motion under way with the clients
// waiting for its end.

#include "remote/remotemath.h"

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>

class QTimer;
class StageControl_c;

class RequestHandler_c : public QObject
{
    Q_OBJECT

public:
    // Error codes of the protocol.
    enum Code {
        kParseError = -32700,
        kInvalidRequest = -32600,
        kMethodNotFound = -32601,
        kInvalidParams = -32602,
        kNotConnected = -32001,
        kLoopRunning = -32002,
        kNotForThisStage = -32003,
    };
    enum class Outcome { Done, Stopped, Operator, Superseded, Error, Disconnected, Timeout };
    static QString OutcomeName(Outcome outcome);

    explicit RequestHandler_c(StageControl_c *stage, QObject *parent = nullptr);
    ~RequestHandler_c() override;

    // A new client's number.
    int AddClient();
    // The client is gone: its waits end unanswered, and a continuous run it
    // started and nobody has taken over since is stopped.
    void RemoveClient(int client);
    int ClientCount() const { return sessions.size(); }

    // Carries out one request line (without its line feed) and returns the
    // immediate reply, a line with its line feed, or nothing (a notification,
    // or a wait that answers later through Deliver).
    QByteArray HandleLine(int client, const QByteArray &line);

    // An error reply for a request that could not be read.
    static QByteArray ErrorLine(const QJsonValue &id, int code, const QString &message);

    // The operation under way in words ("move to 1.5 mm"); empty when none.
    QString Activity() const;

signals:
    // A line (with its line feed) for a client: a late reply or a notification.
    void Deliver(int client, const QByteArray &line);

private:
    struct Session
    {
        bool subscribed = false;
    };
    struct Waiter
    {
        int client;
        QJsonValue id;
        QTimer *timer;
    };
    struct Motion
    {
        bool active = false;
        int owner = 0;
        bool continuous = false;  // a run: stopped when its owner leaves
        QString what;
        MotionWatch watch;
    };
    struct Reply;

    Reply Dispatch(int client, const QString &method, const QJsonObject &params, bool wantsReply,
                   const QJsonValue &id);
    Reply Hello() const;
    Reply Status() const;
    Reply StartMotion(int client, const QString &method, const QJsonObject &params,
                      bool wantsReply, const QJsonValue &id);
    Reply Stop();
    Reply Set(const QJsonObject &params);
    Reply SetReference(const QJsonObject &params);
    Reply Wait(int client, const QJsonObject &params, bool wantsReply, const QJsonValue &id);

    // Makes a new motion the one under way; the previous one ends superseded.
    void BeginMotion(int owner, const QString &what, bool continuous);
    void AddWaiter(int client, const QJsonValue &id, int timeoutMs);
    void EndMotion(Outcome outcome);
    void EndWaiter(QTimer *timer, Outcome outcome);
    QByteArray OutcomeLine(const QJsonValue &id, Outcome outcome) const;

    void OnPolled();
    void OnConnectionChanged(bool connected);
    void Notify(const QString &method, const QJsonObject &params);
    void ActivityChanged();

    QJsonObject StatusObject() const;
    QString Unit() const;

    StageControl_c *stage;
    QHash<int, Session> sessions;
    int nextClient = 1;
    Motion motion;
    QList<Waiter> waiters;
};
