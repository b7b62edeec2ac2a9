// The control socket end to end: real local sockets to the panel on its virtual stage, set up
// as main() does it; then what bad clients do, and who may connect.

#include "app/commandline.h"
#include "app/panelsession.h"
#include "remote/remoteserver.h"
#include "sim/stagesimulator.h"
#include "sim/virtualstage.h"
#include "support/testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocalSocket>
#include <QMutex>
#include <QTemporaryDir>
#include <QtTest>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

constexpr int kWait = 5000;

namespace {

// A script's connection: requests out, replies and notifications in, read as they come.
class Client : public QObject
{
public:
    explicit Client(const QString &path)
    {
        connect(&socket, &QLocalSocket::readyRead, this, [this] {
            while (socket.canReadLine())
                lines << QJsonDocument::fromJson(socket.readLine()).object();
        });
        // A full backlog makes Qt retry the connect later: hold requests till then.
        connect(&socket, &QLocalSocket::connected, this, [this] { socket.write(unsent); });
        socket.connectToServer(path);
    }
    void Send(int id, const QString &method, const QJsonObject &params = {})
    {
        QJsonObject request{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}};
        if (!params.isEmpty())
            request.insert("params", params);
        Write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    }
    void Write(const QByteArray &bytes)
    {
        if (socket.state() == QLocalSocket::ConnectedState)
            socket.write(bytes);
        else
            unsent += bytes;
    }
    // The reply to id, once it came: "outcome position", "outcome", "result" when it has no
    // outcome, the error's code and message, or "none" when none came in time.
    QString Reply(int id, int ms = kWait)
    {
        QString text = "none";
        (void)QTest::qWaitFor([&] {
            for (const QJsonObject &line : lines) {
                if (line.value("id").toInt(-1) != id)
                    continue;
                const QJsonObject r = line.value("result").toObject();
                const QJsonObject e = line.value("error").toObject();
                const QString at = r.contains("position")
                                       ? " " + QString::number(r.value("position").toDouble())
                                       : QString();
                text = line.contains("error") ? QString::number(e.value("code").toInt()) + " "
                                                    + e.value("message").toString()
                       : !r.contains("outcome") ? QString("result")
                                                : r.value("outcome").toString() + at;
                return true;
            }
            return false;
        }, ms);
        return text;
    }
    QLocalSocket socket;
    QList<QJsonObject> lines;
    QByteArray unsent;
};

sockaddr_un Address(const QString &path)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    qstrncpy(a.sun_path, QFile::encodeName(path).constData(), sizeof a.sun_path);
    return a;
}

// A socket of the operating system, no Qt in between: it reads only when told.
int RawConnect(const QString &path)
{
    const sockaddr_un a = Address(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the panel ended the connection: reads until the end of the stream.
bool SeesEnd(int fd)
{
    return QTest::qWaitFor([fd] {
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {}
        return n == 0;
    }, kWait);
}

// A socket file at path, as a listener would leave it.
int BoundSocket(const QString &path)
{
    const sockaddr_un a = Address(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    return ::bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0 ? fd : -1;
}

int Mode(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

}  // namespace

class TestControlSocket : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path;
    std::unique_ptr<PanelSession_c> session;
    QMutex mutex;
    QList<QByteArray> commands;  // what the virtual stage received, polls left out

    // Commands the stage received since the test began.
    QList<QByteArray> Commands()
    {
        QMutexLocker lock(&mutex);
        return commands;
    }
    std::unique_ptr<PanelSession_c> Start(const QStringList &args)
    {
        auto s = std::make_unique<PanelSession_c>(ParseCommandLine(QStringList{"movexa"} + args));
        if (s->Stage()) {
            StageSimulator_c *sim = s->Stage()->Simulator();
            connect(sim, &StageSimulator_c::LineReceived, sim, [this](const QByteArray &line) {
                if (line.startsWith('!') || line.contains('_')) {
                    QMutexLocker lock(&mutex);
                    commands << line;
                }
            }, Qt::DirectConnection);
        }
        return s;
    }
    QString ActivityText() const
    {
        return session->Window().findChild<QLabel *>("remoteActivityLabel")->text();
    }

private slots:
    void init()
    {
        QMutexLocker lock(&mutex);
        commands.clear();
    }
    void initTestCase()
    {
        FilterPlatformNoise();
        path = dir.filePath("control.sock");
        session = Start({"--virtual-stage", "--control-socket", path});
        if (!session->Stage())
            QSKIP("no pseudo-terminal available");
        QVERIFY(session->Remote());
        MainWindowProbe p(&session->Window());
        QTRY_COMPARE_WITH_TIMEOUT(p.ui()->snLabel->text(), QString("SN: 1234"), kWait);
        // The operator's zero must not shift a script's absolute positions.
        p.posOffset() = 0.7;
    }

    // Without a timeout a wait lasts as long as the move can take at the speed set, here
    // beyond the fixed margin.
    void waitFollowsTheEstimate()
    {
        Client c(path);
        c.Send(1, "set", {{"speed", 1.0}});
        c.Send(2, "move", {{"to", 4.0}, {"wait", true}});
        QCOMPARE(c.Reply(2, 10000), QString("done 4"));
        c.Send(3, "set", {{"speed", 2.0}});
        QCOMPARE(c.Reply(3), QString("sent"));
    }

    // Stop ends a station loop as the Loop button does.
    void stopEndsTheLoop()
    {
        MainWindowUi *ui = MainWindowProbe(&session->Window()).ui();
        ui->useA_cBox->setChecked(true);
        ui->LoopCheckBox->setChecked(true);
        QTest::mouseClick(ui->LoopButton, Qt::LeftButton);
        Client c(path);
        c.Send(2, "stop");
        const QString reply = c.Reply(2);
        QCOMPARE(reply + " " + ui->LoopButton->text(), QString("sent Start loop"));
        ui->LoopCheckBox->setChecked(false);
    }

    // Each motion control of the window ends a script's wait; Enter in the position field too.
    void operatorControlEndsWait_data()
    {
        QTest::addColumn<QString>("control");
        for (const char *name : {"goButton", "posLineEdit", "rightStepButton", "HomingButton",
                                 "GoToRefButton", "LoopButton"})
            QTest::newRow(name) << name;
    }
    void operatorControlEndsWait()
    {
        QFETCH(QString, control);
        Client c(path);
        c.Send(1, "move", {{"to", 20.0}, {"wait", true}});
        QTRY_VERIFY_WITH_TIMEOUT(ActivityText().contains("move to 20"), kWait);
        MainWindowUi *ui = MainWindowProbe(&session->Window()).ui();
        for (QCheckBox *station : {ui->useA_cBox, ui->useB_cBox, ui->useC_cBox, ui->useD_cBox})
            station->setChecked(false);  // a loop that commands nothing and ends at once
        QWidget *widget = session->Window().findChild<QWidget *>(control);
        if (control == "posLineEdit")
            QTest::keyClick(widget, Qt::Key_Return);
        else
            QTest::mouseClick(widget, Qt::LeftButton);
        QCOMPARE(c.Reply(1).section(' ', 0, 0), QString("operator"));
    }

    void anotherMoveSupersedes()
    {
        Client first(path), second(path);
        first.Send(1, "move", {{"to", 3.0}, {"wait", true}});
        QTRY_COMPARE_WITH_TIMEOUT(ActivityText(), QString::fromUtf8("Scripts: 2 · move to 3 mm"),
                                  kWait);
        second.Send(2, "move", {{"to", 2.0}, {"wait", true}});
        QCOMPARE(first.Reply(1).section(' ', 0, 0) + " " + second.Reply(2),
                 QString("superseded done 2"));
    }

    // Speed first, then acceleration, which drags deceleration along, then deceleration.
    void setMovesTheSliders()
    {
        Client c(path);
        c.Send(1, "set", {{"speed", 1.5}, {"accel", 10.0}, {"decel", 7.5}, {"torque", 40.0}});
        QCOMPARE(c.Reply(1), QString("sent"));
        QTRY_COMPARE_WITH_TIMEOUT(Commands(), (QList<QByteArray>{"speed_1500", "decel_10000",
                                  "accel_10000", "decel_7500", "holdTorque_40"}), kWait);
    }

    void badLineLeavesTheConnection()
    {
        Client c(path);
        // A line cut short, then one ended as some systems end lines.
        c.Write("{\"jsonrpc\":\n{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"status\"}\r\n");
        QCOMPARE(c.Reply(2), QString("result"));
    }

    void longestLineIsTaken()
    {
        Client c(path);
        const QByteArray request = R"({"jsonrpc":"2.0","id":1,"method":"status"})";
        c.Write(request.leftJustified(RemoteServer_c::kMaxLine, ' ') + '\n');
        QCOMPARE(c.Reply(1), QString("result"));
    }

    void hugeLineClosesTheConnection()
    {
        Client c(path);
        QSignalSpy closed(&c.socket, &QLocalSocket::disconnected);
        c.Write(QByteArray(1024 * 1024, 'x') + '\n');
        QVERIFY(closed.wait(kWait));
        QCOMPARE(c.lines.value(0).value("error").toObject().value("message").toString(),
                 QString("line longer than 65536 bytes; closing"));
    }

    void manyClientsAtOnce()
    {
        std::vector<std::unique_ptr<Client>> many;
        for (int i = 0; i < 200; ++i) {
            many.push_back(std::make_unique<Client>(path));
            many.back()->Send(i, "hello");
        }
        QTRY_COMPARE_WITH_TIMEOUT(session->Remote()->ClientCount(), 200, kWait);
        many.clear();
        QTRY_COMPARE_WITH_TIMEOUT(session->Remote()->Handler().ClientCount(), 0, kWait);
        Client after(path);
        after.Send(1, "status");
        QCOMPARE(after.Reply(1), QString("result"));
    }

    // A subscriber that asks and never reads: its unread output is capped, then it is dropped.
    void nonReaderIsDropped()
    {
        const int fd = RawConnect(path);
        QVERIFY(fd >= 0);
        QByteArray requests = "{\"jsonrpc\":\"2.0\",\"method\":\"subscribe\"}\n";
        for (int i = 0; i < 500; ++i)
            requests += "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"hello\"}\n";
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(
            "^movexa: dropped a control client that left \\d+ bytes unread$"));
        qint64 sent = 0;
        // The replies are about seven times the requests: 2 MiB of requests is far past
        // the cap and the socket's buffers, yet far below a cap grown by mistake. The
        // panel's end is seen closed on this connection itself, unread replies and all.
        const bool dropped = QTest::qWaitFor([&] {
            if (sent < 2 * 1024 * 1024
                && ::write(fd, requests.constData(), size_t(requests.size())) > 0)
                sent += requests.size();
            pollfd p{fd, POLLRDHUP, 0};
            return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP));
        }, kWait);
        QVERIFY2(dropped, qPrintable(QString("%1 bytes of requests sent").arg(sent)));
        QVERIFY(SeesEnd(fd));
        ::close(fd);
    }

    // Another user's process is refused even where the file system lets it in. Root acts as
    // nobody for the connect, as the settings suite's save test does.
    void otherUserRefused()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to act as another user");
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7755)));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0777) == 0);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(
            "^movexa: refused a control connection from uid 65534 "));
        QVERIFY(::seteuid(65534) == 0);
        const int fd = RawConnect(path);
        QVERIFY(::seteuid(0) == 0);
        QVERIFY(fd >= 0);
        QVERIFY(SeesEnd(fd));
        ::close(fd);
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7700)));
    }

    // The default path: the runtime folder's own movexa folder, made owner-only even if it
    // existed open, with an owner-only socket in it.
    void defaultPathModes()
    {
        QTemporaryDir runtime;
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        QVERIFY(QDir().mkpath(runtime.filePath("movexa")));
        QVERIFY(QFile::setPermissions(runtime.filePath("movexa"),
                                      QFileDevice::Permissions(0x7755)));
        const ScopedPortList none({});
        auto own = Start({});
        qputenv("XDG_RUNTIME_DIR", saved);
        QVERIFY(own->Remote());
        QCOMPARE(QString("%1 %2").arg(Mode(runtime.filePath("movexa")), 0, 8)
                     .arg(Mode(runtime.filePath("movexa/control.sock")), 0, 8),
                 QString("700 700"));
    }

    // A second panel on the same path leaves the first alone and runs without the socket, as
    // it does beside any other listener there; a socket file left by a panel that died is taken
    // over.
    void liveKeptStaleReclaimed()
    {
        const ScopedPortList none({});  // no controller needed
        QTest::ignoreMessage(QtWarningMsg, qPrintable("movexa: another panel is listening on "
            + path + "; running without remote control."));
        auto second = Start({"--control-socket", path});
        QVERIFY(!second->Remote());
        Client still(path);
        still.Send(1, "status");
        QCOMPARE(still.Reply(1), QString("result"));

        const QString otherPath = dir.filePath("other.sock");
        const int listener = BoundSocket(otherPath);
        QVERIFY(::listen(listener, 1) == 0);
        QTest::ignoreMessage(QtWarningMsg, qPrintable("movexa: another panel is listening on "
            + otherPath + "; running without remote control."));
        QVERIFY(!Start({"--control-socket", otherPath})->Remote());
        ::close(listener);

        const QString stalePath = dir.filePath("stale.sock");
        ::close(BoundSocket(stalePath));  // the file stays, nobody listens
        auto third = Start({"--control-socket", stalePath});
        QVERIFY(third->Remote());
        Client reclaimed(stalePath);
        reclaimed.Send(1, "status");
        QCOMPARE(reclaimed.Reply(1), QString("result"));
    }


    // A path taken by something that is no socket is left as it is, and the panel runs
    // without remote control.
    void notASocketRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("regular file") << "file";
        QTest::newRow("FIFO") << "fifo";
    }
    void notASocketRefused()
    {
        QFETCH(QString, kind);
        const QString taken = dir.filePath("taken-" + kind);
        const QByteArray name = QFile::encodeName(taken);
        if (kind == "fifo") {
            QVERIFY(::mkfifo(name.constData(), 0600) == 0);
        } else {
            QFile file(taken);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("kept") == 4);
        }
        QTest::ignoreMessage(QtWarningMsg, qPrintable("movexa: " + taken
            + " exists and is not a socket; running without remote control."));
        const ScopedPortList none({});
        QVERIFY(!Start({"--control-socket", taken})->Remote());
        struct stat st;
        QVERIFY(::lstat(name.constData(), &st) == 0);
        QFile file(taken);
        const QString after = S_ISFIFO(st.st_mode) ? QString("fifo")
                              : file.open(QIODevice::ReadOnly) ? "file " + file.readAll()
                                                               : QString("gone");
        QCOMPARE(after, kind == "fifo" ? QString("fifo") : QString("file kept"));
    }
};

QTEST_MAIN(TestControlSocket)
#include "test_controlsocket.moc"
