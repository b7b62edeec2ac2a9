// The link on a real pseudo-terminal, the receive ring at its edges, and port
// discovery by USB product id.

#include "support/testsupport.h"

#include <QSignalSpy>
#include <QtTest>

#define OPEN_PTY(pty)                                                                              \
    if (!(pty).Open())                                                                             \
    QSKIP(qPrintable("no pseudo-terminal: " + (pty).ErrorString()))

namespace {

QList<QByteArray> ReceivedLines(const QSignalSpy &spy)
{
    QList<QByteArray> out;
    for (const QList<QVariant> &args : spy)
        out.append(args.at(0).toString().toUtf8());
    return out;
}

int Pending(const RxRing &ring)
{
    return (ring.writePos - ring.readPos + ring.size) % ring.size;
}

}  // namespace

class TestSerial : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QSerialPort::SerialPortError>(); }
    void writeLnSendsOneLine();
    void repliesBecomeLines();
    void hangUpClosesOnce();
    void unopenablePortReportsFalse();
    void ringEdges_data();
    void ringEdges();
    void checkPid_data();
    void checkPid();
};

void TestSerial::writeLnSendsOneLine()
{
    PtyMaster pty;
    OPEN_PTY(pty);
    Serial_c serial(nullptr, "6015");
    QSignalSpy changed(&serial, &Serial_c::ConnectionChanged);
    serial.SetPortName(pty.SlavePath());
    QCOMPARE(serial.OpenPort(true), 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), true);

    serial.Mute();
    serial.WriteLn("?status");
    serial.Unmute();
    serial.WriteLn("?pos");
    QTRY_COMPARE(pty.Received(), QByteArray("?pos\n"));

    QCOMPARE(serial.OpenPort(false), 0);
    QVERIFY(!serial.IsOpen());
    QCOMPARE(changed.count(), 1);
    // Closing a closed port is quiet too.
    QCOMPARE(serial.OpenPort(false), 0);
    QCOMPARE(changed.count(), 1);
}

void TestSerial::repliesBecomeLines()
{
    PtyMaster pty;
    OPEN_PTY(pty);
    Serial_c serial(nullptr, "6015");
    serial.SetPortName(pty.SlavePath());
    QCOMPARE(serial.OpenPort(true), 1);
    QSignalSpy lines(&serial, &Serial_c::LineReceived);

    pty.Write("po");
    QTRY_COMPARE(serial.Ring().writePos, 2);
    QCOMPARE(lines.count(), 0);
    pty.Write("s_1\r\n");
    QTRY_COMPARE(lines.count(), 1);
    pty.Write("ok\r\nrefPos_-5\n");
    QTRY_COMPARE(lines.count(), 3);
    QCOMPARE(ReceivedLines(lines),
             (QList<QByteArray>{"pos_1\n", "ok\n", "refPos_-5\n"}));
}

void TestSerial::hangUpClosesOnce()
{
    PtyMaster pty;
    OPEN_PTY(pty);
    Serial_c serial(nullptr, "6015");
    serial.SetPortName(pty.SlavePath());
    QCOMPARE(serial.OpenPort(true), 1);
    QSignalSpy changed(&serial, &Serial_c::ConnectionChanged);
    QSignalSpy errors(serial.Port(), &QSerialPort::errorOccurred);

    QTest::ignoreMessage(QtDebugMsg, "Cable disconnected.");
    pty.Close();
    QTRY_VERIFY_WITH_TIMEOUT(!serial.IsOpen(), 10000);
    // Let a storm show if there is one; the closed port has no notifiers left.
    QTest::qWait(100);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), false);
    QVERIFY2(errors.count() <= 4, qPrintable(QString::number(errors.count()) + " errors"));
}

void TestSerial::unopenablePortReportsFalse()
{
    Serial_c serial(nullptr, "6015");
    QSignalSpy changed(&serial, &Serial_c::ConnectionChanged);
    serial.SetPortName("/nonexistent/movexa-port");
    QCOMPARE(serial.OpenPort(true), 0);
    QVERIFY(!serial.IsOpen());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), false);
}

void TestSerial::ringEdges_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::addColumn<int>("pending");

    QTest::newRow("CR LF") << QList<QByteArray>{"ok\r\n"} << QList<QByteArray>{"ok\n"} << 0;
    QTest::newRow("CR inside") << QList<QByteArray>{"a\rb\n"} << QList<QByteArray>{"ab\n"} << 0;
    QTest::newRow("split") << QList<QByteArray>{"pos", "1\n"} << QList<QByteArray>{"pos1\n"} << 0;
    QTest::newRow("two in one read")
        << QList<QByteArray>{"a_1\nb_2\n"} << QList<QByteArray>{"a_1\n", "b_2\n"} << 0;
    QTest::newRow("empty line") << QList<QByteArray>{"\n"} << QList<QByteArray>{"\n"} << 0;
    QTest::newRow("NUL ends text")
        << QList<QByteArray>{QByteArray("ab\0cd\nx\n", 8)} << QList<QByteArray>{"ab", "x\n"} << 0;
    QTest::newRow("high bytes") << QList<QByteArray>{"\xc3\xa9\n"} << QList<QByteArray>{"\xc3\xa9\n"}
                                << 0;

    // 300 characters at most; the rest waits for the next line feed, which
    // in turn leaves its own line behind.
    QTest::newRow("350 chars") << QList<QByteArray>{QByteArray(350, 'x') + "\n", "y\n"}
                               << QList<QByteArray>{QByteArray(300, 'x'), QByteArray(50, 'x') + "\n"}
                               << 2;

    QTest::newRow("full ring drops the rest of the read")
        << QList<QByteArray>{QByteArray(4094, 'a'), "zz\n"} << QList<QByteArray>{QByteArray(300, 'a')}
        << 4094 - 300;

    // Twenty line feeds lost with a full ring: the cuts take what is there
    // and stop when it runs out, never inventing bytes.
    QList<QByteArray> lostLines;
    {
        const QByteArray all = QByteArray(4000, 'a') + QByteArray(94, 'b');
        for (int at = 0; at < all.size(); at += 300)
            lostLines << all.mid(at, 300);
    }
    QTest::newRow("lost line feeds")
        << QList<QByteArray>{QByteArray(4000, 'a'), QByteArray(94, 'b') + QByteArray(20, '\n')}
        << lostLines << 0;

    QList<QByteArray> wrapReads;
    for (int i = 0; i < 15; ++i)
        wrapReads << QByteArray(299, char('a' + i)) + "\n";
    QTest::newRow("wraps around") << wrapReads << wrapReads << 0;
}

void TestSerial::ringEdges()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(int, pending);

    Serial_c serial(nullptr, "6015");
    QSignalSpy lines(&serial, &Serial_c::LineReceived);
    for (const QByteArray &read : reads)
        serial.ProcessBytes(read);
    QCOMPARE(ReceivedLines(lines), expected);
    QCOMPARE(Pending(serial.Ring()), pending);
}

void TestSerial::checkPid_data()
{
    QTest::addColumn<QList<int>>("productIds");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("portName");

    QTest::newRow("first match wins") << QList<int>{0x6001, 0x6015, 0x6015} << true << "port1";
    QTest::newRow("near misses") << QList<int>{0x6016, 0x0615, 0x601, 0x1601, 0x6150} << false
                                 << "before";
    QTest::newRow("no USB ids") << QList<int>{0, 0} << false << "before";
    QTest::newRow("no ports") << QList<int>{} << false << "before";
}

void TestSerial::checkPid()
{
    QFETCH(QList<int>, productIds);
    QFETCH(bool, found);
    QFETCH(QString, portName);

    QList<PortEntry> ports;
    for (int id : productIds) {
        PortEntry e;
        e.name = "port" + QString::number(ports.size());
        e.vendorId = 0x0403;
        e.productId = static_cast<quint16>(id);
        ports << e;
    }
    ScopedPortList list(ports);
    Serial_c serial(nullptr, "6015");
    serial.SetPortName("before");
    if (found)
        QTest::ignoreMessage(QtDebugMsg, "Found port with PID  \"6015\"");
    QCOMPARE(serial.CheckPid(), found);
    QCOMPARE(serial.PortName(), portName);
}

QTEST_GUILESS_MAIN(TestSerial)
#include "test_serial.moc"
