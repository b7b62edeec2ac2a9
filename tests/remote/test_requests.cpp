// Requests as the handler takes them, without a socket, against the real window on a
// pseudo-terminal; and the arithmetic behind waits and steps.

#include "app/windowstagecontrol.h"
#include "link/numeric.h"
#include "remote/remotemath.h"
#include "remote/requesthandler.h"
#include "support/testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <climits>
#include <cmath>

// A request with an id, as scripts send them.
static QByteArray Call(int id, const char *method, const char *params = nullptr)
{
    const QByteArray call = "{\"jsonrpc\":\"2.0\",\"id\":" + QByteArray::number(id)
                            + ",\"method\":\"" + method + '"';
    return (params ? call + ",\"params\":" + params : call) + '}';
}

class TestRequests : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { FilterPlatformNoise(); }

    void badRequests_data()
    {
        // connected, identified (its type read as well), reconnected (identified, then a new
        // connection), unconnected, loop
        QTest::addColumn<QString>("state");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("reply");  // id, code and message
        const QString range = "a number from -1000 to 1000 mm";
        QTest::newRow("cut-off JSON") << "connected" << QByteArray(R"({"jsonrpc":"2.0","id":1,)")
            << "null -32700 not JSON: unterminated object at byte 24";
        QTest::newRow("NaN is no JSON") << "connected" << Call(1, "move", R"({"to":NaN})")
            << "null -32700 not JSON: illegal number at byte 55";
        QTest::newRow("a batch") << "connected"
            << QByteArray(R"([{"jsonrpc":"2.0","id":1,"method":"status"}])")
            << "null -32600 a request is one JSON object; batches are not taken";
        QTest::newRow("no jsonrpc, no id: answered all the same") << "connected"
            << QByteArray(R"({"method":"status"})") << "null -32600 'jsonrpc' must be \"2.0\"";
        QTest::newRow("unknown method") << "connected" << Call(3, "goto")
            << "3 -32601 no method 'goto'; there are hello, status, move, step, run, stop, home, "
               "go_to_reference, set_reference, set, wait, subscribe, unsubscribe";
        QTest::newRow("params an array") << "connected" << Call(4, "move", R"([1])")
            << "4 -32602 'params' must be an object";
        QTest::newRow("to missing") << "connected" << Call(5, "move", R"({"wait":true})")
            << "5 -32602 missing 'to': " + range;
        QTest::newRow("to a string") << "connected" << Call(6, "move", R"({"to":"1.5"})")
            << "6 -32602 'to' must be " + range;
        QTest::newRow("to 1e308") << "connected" << Call(7, "move", R"({"to":1e308})")
            << "7 -32602 'to' must be " + range;
        QTest::newRow("to a thousandth past the end") << "connected"
            << Call(8, "move", R"({"to":-1000.001})")
            << "8 -32602 'to' must be " + range;
        QTest::newRow("a misspelt parameter") << "connected"
            << Call(9, "move", R"({"to":1,"timout":5})")
            << "9 -32602 unknown parameter 'timout'; move takes to, wait, timeout";
        QTest::newRow("timeout zero") << "connected" << Call(11, "wait", R"({"timeout":0})")
            << "11 -32602 'timeout' must be a number from 0.01 to 86400 s";
        QTest::newRow("step beyond the positions") << "connected"
            << Call(12, "step", R"({"by":1000.5})")
            << "12 -32602 'by' would step to 1000.5, outside the positions from -1000 to 1000 mm";
        QTest::newRow("speed above its slider") << "connected"
            << Call(13, "set", R"({"speed":8.001})")
            << "13 -32602 'speed' must be a number from 0.04 to 8 mm/s";
        QTest::newRow("set without values") << "connected" << Call(15, "set", R"({})")
            << "15 -32602 set needs one or more of speed, accel, decel, torque";
        QTest::newRow("run on a linear stage") << "identified"
            << Call(17, "run", R"({"direction":"forward"})")
            << "17 -32003 run is for rotation stages only";
        QTest::newRow("run before the type is read") << "connected"
            << Call(17, "run", R"({"direction":"forward"})")
            << "17 -32003 the stage type is not read yet; hello names it once it is";
        QTest::newRow("run after a new connection, before its type is read") << "reconnected"
            << Call(17, "run", R"({"direction":"forward"})")
            << "17 -32003 the stage type is not read yet; hello names it once it is";
        QTest::newRow("move unconnected") << "unconnected" << Call(18, "move", R"({"to":1})")
            << "18 -32001 not connected to a controller";
        QTest::newRow("move while the loop runs") << "loop" << Call(19, "move", R"({"to":1})")
            << "19 -32002 a station loop is running; stop ends it";
    }
    void badRequests()
    {
        QFETCH(QString, state);
        QFETCH(QByteArray, request);
        QFETCH(QString, reply);
        WindowRig rig;
        QVERIFY(rig.ptyOpen);
        if (state != "unconnected")
            QVERIFY(rig.OpenQuietly());
        if (state == "identified" || state == "reconnected")
            rig.w.UpdateUiAfterConnect();
        if (state == "reconnected")
            rig.w.NewConnection(true);
        if (state == "loop") {
            rig.ui->useA_cBox->setChecked(true);
            rig.ui->LoopButton->click();  // its first station goes out from the event loop
        }
        WindowStageControl_c control(&rig.w);
        RequestHandler_c handler(&control);
        const int client = handler.AddClient();
        const QJsonObject answer =
            QJsonDocument::fromJson(handler.HandleLine(client, request)).object();
        const QJsonObject error = answer.value("error").toObject();
        // The id as JSON writes it: 1, "a" or null.
        const QString id = QJsonDocument(QJsonArray{answer.value("id")})
                               .toJson(QJsonDocument::Compact).mid(1).chopped(1);
        QCOMPARE(QString("%1 %2 %3").arg(id).arg(error.value("code").toInt())
                     .arg(error.value("message").toString()),
                 reply);
    }

    // A request without an id is carried out and answered with nothing, neither at once nor
    // when the wait it asked for ends.
    void notificationGetsNoReply()
    {
        WindowRig rig;
        QVERIFY(rig.ptyOpen && rig.OpenQuietly());
        WindowStageControl_c control(&rig.w);
        RequestHandler_c handler(&control);
        QSignalSpy later(&handler, &RequestHandler_c::Deliver);
        const QByteArray reply = handler.HandleLine(handler.AddClient(),
            R"({"jsonrpc":"2.0","method":"move","params":{"to":0.25,"wait":true,"timeout":0.05}})");
        QVERIFY(QTest::qWaitFor([&] { return rig.pty.Received().contains("!pos_250\n"); }, 2000));
        later.wait(300);  // the wait's timeout would have answered by now
        QCOMPARE(reply + QByteArray::number(later.count()), QByteArray("0"));
    }

    // "Done" from the polled status, one letter a poll: m moving, . idle, e error. The first
    // poll after a command still shows the state from before it.
    void motionWatch_data()
    {
        QTest::addColumn<QString>("polls");
        QTest::addColumn<QString>("end");
        QTest::newRow("moving, then idle twice") << ".mm.." << "done at 5";
        QTest::newRow("idle once mid-move is no end") << ".m.m.." << "done at 6";
        QTest::newRow("a move too short to be seen") << "...." << "done at 4";
        QTest::newRow("the stale poll's motion does not count") << "m..." << "done at 4";
        QTest::newRow("the stale poll's error does not count") << "e..." << "done at 4";
        QTest::newRow("error bit") << ".me" << "error at 3";
        QTest::newRow("still going") << ".mmmmm." << "going";
    }
    void motionWatch()
    {
        QFETCH(QString, polls);
        QFETCH(QString, end);
        MotionWatch watch;
        QString seen = "going";
        for (int i = 0; i < polls.size() && seen == "going"; ++i) {
            const MotionProgress p = watch.Feed(polls[i] == 'm', polls[i] == 'e');
            if (p != MotionProgress::Going)
                seen = QString("%1 at %2")
                           .arg(p == MotionProgress::Done ? "done" : "error")
                           .arg(i + 1);
        }
        QCOMPARE(seen, end);
    }

    void waitTimeout_data()
    {
        QTest::addColumn<double>("estimate");
        QTest::addColumn<int>("ms");
        QTest::newRow("no travel: the margin") << 0.0 << 2000;
        QTest::newRow("ten seconds and a quarter") << 10.0 << 14500;
        QTest::newRow("NaN") << std::nan("") << 2000;
        QTest::newRow("negative") << -3.0 << 2000;
        QTest::newRow("beyond an int") << 1e300 << INT_MAX;
    }
    void waitTimeout()
    {
        QFETCH(double, estimate);
        QFETCH(int, ms);
        QCOMPARE(DefaultWaitTimeoutMs(estimate), ms);
    }

    void stepTarget_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<double>("by");
        QTest::addColumn<int>("target");
        QTest::newRow("half up") << 999 << 0.0015 << 1001;
        QTest::newRow("negative half toward plus") << 0 << -0.0025 << -2;
        QTest::newRow("saturates") << INT_MAX - 1 << 0.5 << INT_MAX;
    }
    void stepTarget()
    {
        QFETCH(int, from);
        QFETCH(double, by);
        QFETCH(int, target);
        QCOMPARE(StepTarget(from, by), target);
    }
};

QTEST_MAIN(TestRequests)
#include "test_requests.moc"
