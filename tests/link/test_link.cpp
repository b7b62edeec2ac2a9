// The controller link: receive ring, reply parser, number conversions, the system's port list and
// discovery, the connect box on a pty.

#include "link/numeric.h"
#include "link/paramtable.h"
#include "link/parser.h"
#include "support/testsupport.h"

#include <QtTest>
#include <QtWidgets>

static PortEntry Port(const QString &name, quint16 productId = 0)
{
    return {name, "", "", "/dev/" + name, quint16(productId ? 0x403 : 0), productId};
}

class TestLink : public QObject
{
    Q_OBJECT
private slots:
    void ring_data()
    {
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("an empty line") << QByteArrayList{"\n"} << QStringList{"\n"};
        QTest::newRow("a line in two reads") << QByteArrayList{"po", "s_1\n"}
                                             << QStringList{"pos_1\n"};
        QTest::newRow("CR dropped") << QByteArrayList{"ok\r\n"} << QStringList{"ok\n"};
        QTest::newRow("a NUL ends the text") << QByteArrayList{QByteArray("ab\0cd\nx\n", 8)}
                                             << QStringList{"ab", "x\n"};
        QTest::newRow("350 chars: 300, then the rest as a line")
            << QByteArrayList{QByteArray(350, 'x') + '\n'}
            << QStringList{QString(300, 'x'), QString(50, 'x') + '\n'};
        // 4094 bytes fill the ring, wrapped after "ccc"; the rest of that read is lost, LFs too.
        QStringList cut{"ccc\n"};
        for (int at = 0; at < 4094; at += 300)
            cut << QString(4094, 'a').mid(at, 300);
        QTest::newRow("full ring")
            << QByteArrayList{"ccc\n", QByteArray(4094, 'a') + "zz" + QByteArray(20, '\n'), "q\n"}
            << (cut << "q\n");
    }
    void ring()
    {
        QFETCH(QByteArrayList, reads);
        QFETCH(QStringList, lines);
        Serial_c serial(nullptr, "6015");
        QStringList got;
        connect(&serial, &Serial_c::LineReceived, [&](const QString &line) { got << line; });
        for (const QByteArray &read : reads)
            serial.ProcessBytes(read);
        QCOMPARE(got, lines);
    }

    // The pos row holds 99 before each line.
    void parse_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<double>("pos");  // the row after the line
        QTest::addColumn<QStringList>("shown");  // handed on for display
        QTest::newRow("key without a value: 0") << "pos\n" << 0.0 << QStringList();
        QTest::newRow("empty words skipped") << "__pos__400_5_" << 400.0 << QStringList();
        QTest::newRow("infinity: 0") << "pos_-inf" << 0.0 << QStringList();
        QTest::newRow("ok line ignored") << "  ok_pos_5" << 99.0 << QStringList();
        QTest::newRow("comment ignored") << "#pos_5" << 99.0 << QStringList();
        QTest::newRow("number first: ignored, not shown") << "12_34" << 99.0 << QStringList();
        QTest::newRow("unknown key: shown, trimmed") << " POS_1 \r\n" << 99.0
                                                     << QStringList("POS_1");
        QTest::newRow("underscores only ignored") << "___" << 99.0 << QStringList();
    }
    void parse()
    {
        QFETCH(QString, line);
        ParamTable_c table;
        table.AddEntry("pos", 99, nullptr, nullptr, 0, false, "");
        Parser_c parser(&table);
        QStringList shown;
        connect(&parser, &Parser_c::DisplayString, [&](QString t) { shown << t; });
        parser.Parse(line);
        QTEST(table.ValueOf("pos"), "pos");
        QTEST(shown, "shown");
    }

    // The system's description of a port, field by field; ids only where the port has them.
    void systemPorts()
    {
        struct Info  // what QSerialPortInfo answers
        {
            QString portName() const { return "ttyUSB0"; }
            QString description() const { return "converter"; }
            QString manufacturer() const { return "maker"; }
            QString systemLocation() const { return "/dev/ttyUSB0"; }
            bool hasVendorIdentifier() const { return hasIds; }
            quint16 vendorIdentifier() const { return 0x0403; }
            bool hasProductIdentifier() const { return hasIds; }
            quint16 productIdentifier() const { return 0x6015; }
            bool hasIds;
        };
        QStringList got;
        for (const PortEntry &p : PortEntriesFrom(QList<Info>{{true}, {false}}))
            got << QStringList{p.name, p.description, p.manufacturer, p.systemLocation,
                               QString::number(p.vendorId, 16), QString::number(p.productId, 16)}
                       .join(' ');
        QCOMPARE(got, (QStringList{"ttyUSB0 converter maker /dev/ttyUSB0 403 6015",
                                   "ttyUSB0 converter maker /dev/ttyUSB0 0 0"}));
    }

    // Doubles from the line, files and fields into the integers the widgets and controller use.
    void saturation_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("truncated");
        QTest::addColumn<int>("rounded");  // in thousandths, halves upward
        QTest::newRow("NaN") << qQNaN() << 0 << 0;
        QTest::newRow("below the range") << -1e300 << INT_MIN << INT_MIN;
        QTest::newRow("above the range") << 1e300 << INT_MAX << INT_MAX;
        QTest::newRow("toward zero") << -2.7 << -2 << -2700;
        QTest::newRow("half below zero") << -0.0025 << 0 << -2;
    }
    void saturation()
    {
        QFETCH(double, value);
        QTEST(SaturateToInt(value), "truncated");
        QTEST(ToControllerUnitsRound(value), "rounded");
    }

    void tableLimits()
    {
        QSlider slider;
        ParamTable_c table;
        table.AddEntry("pos", 1e300, &slider, nullptr, 2, false, "");
        table.PushToControl(0);
        QCOMPARE(slider.value(), slider.maximum());  // saturated, not wrapped to negative
        for (int i = 1; i <= ParamTable_c::kMaxEntries; ++i)  // one too many
            table.AddEntry(QString::number(i), i, nullptr, nullptr, 0, false, "");
        QCOMPARE(table.Count(), ParamTable_c::kMaxEntries);
        QCOMPARE(SaturatingAdd(INT_MIN, -1), INT_MIN);  // sums saturate at the bottom too
    }

    void checkPid()
    {
        ScopedPortList list({Port("a", 0x601), Port("b", 6015), Port("c"), Port("d", 0x6015),
                             Port("e", 0x6015)});  // a: part of the id, b: in decimal, c: none
        Serial_c serial(nullptr, "6015");
        QCOMPARE(serial.CheckPid() ? serial.PortName() : "none", QString("d"));
    }

    // An empty list, a port that cannot be opened, then the pty: line settings, clearing and
    // ticking the box again, refreshes. (The simulator's faults take a hang-up.)
    void connectBox()
    {
        PtyMaster pty;
        if (!pty.Open())
            QSKIP(qPrintable("no pseudo-terminal: " + pty.ErrorString()));
        ScopedPortList list({Port("gone"), PtyPortEntry(pty, 0x6001)});  // start-up opens neither
        MainWindow w;
        MainWindowProbe probe(&w);
        MainWindowUi *ui = probe.ui();
        Serial_c *serial = probe.serial();
        probe.pollTimer()->stop();
        QSignalSpy changes(serial, &Serial_c::ConnectionChanged);
        ui->connected_cBox->click();  // nothing listed yet: cleared at once, nothing tried
        QVERIFY2(!ui->connected_cBox->isChecked(), "ticked with an empty list");
        QCOMPARE(changes.size(), 0);
        ui->updatePorts_Button->click();
        ui->connected_cBox->click();
        QTRY_VERIFY(!ui->connected_cBox->isChecked());
        ui->serialPort_cBox->setCurrentIndex(1);
        ui->connected_cBox->click();
        const QSerialPort *port = serial->Port();
        QCOMPARE(QString("%1 baud, %2 bits, parity %3, stop %4, flow %5").arg(port->baudRate())
                     .arg(port->dataBits()).arg(port->parity()).arg(port->stopBits())
                     .arg(port->flowControl()),
                 QString("115200 baud, 8 bits, parity 0, stop 1, flow 0"));
        ui->connected_cBox->click();  // cleared: closed, and no signal for it
        QVERIFY2(!serial->IsOpen(), "box cleared");
        ui->connected_cBox->click();
        QVERIFY2(serial->IsOpen(), "box ticked again");
        ui->updatePorts_Button->click();
        QCOMPARE(ui->serialPort_cBox->currentIndex(), 1);
        ScopedPortList vanished({Port("ttyS0"), Port("ttyS1")});
        ui->updatePorts_Button->click();
        QCOMPARE(ui->serialPort_cBox->currentIndex(), -1);
        QCOMPARE(changes.size(), 3);  // failed, opened, opened again: once each
    }

    // A device gone (a read or resource error while open) is reported once, then closed; any
    // other error, or one on a port that is not open, is only logged.
    void errorReaction_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("error");
        QTest::addColumn<QStringList>("logged");  // each line up to its first colon
        QTest::addColumn<QStringList>("signalled");  // and whether the port was open then
        QTest::addColumn<bool>("openAfter");
        const QStringList gone{"Serial port open", "Cable disconnected."};
        QTest::newRow("read error while open: device gone") << true << int(QSerialPort::ReadError)
            << gone << QStringList("false, still open") << false;
        QTest::newRow("resource error while open: device gone") << true
            << int(QSerialPort::ResourceError) << gone << QStringList("false, still open") << false;
        QTest::newRow("write error while open: logged, stays open") << true
            << int(QSerialPort::WriteError) << QStringList{"Serial port open", "Port error"}
            << QStringList() << true;
        QTest::newRow("read error on a closed port: logged only") << false
            << int(QSerialPort::ReadError) << QStringList("Port error") << QStringList() << false;
        QTest::newRow("no error: nothing") << true << int(QSerialPort::NoError)
            << QStringList("Serial port open") << QStringList() << true;
    }
    void errorReaction()
    {
        QFETCH(bool, open);
        QFETCH(int, error);
        PtyMaster pty;
        if (!pty.Open())
            QSKIP(qPrintable("no pseudo-terminal: " + pty.ErrorString()));
        Serial_c serial(nullptr, "6015");
        serial.SetPortName(pty.SlavePath());
        static QStringList logged;
        logged.clear();
        const auto log = [](QtMsgType, const QMessageLogContext &, const QString &text) {
            logged << text.section(':', 0, 0);
        };
        const QtMessageHandler previous = qInstallMessageHandler(log);
        if (open)
            serial.OpenPort(true);
        QStringList signalled;
        connect(&serial, &Serial_c::ConnectionChanged, [&](bool up) {
            signalled << QString(up ? "true, " : "false, ")
                    + (serial.IsOpen() ? "still open" : "closed");
        });
        serial.HandleError(QSerialPort::SerialPortError(error));
        qInstallMessageHandler(previous);
        QTEST(logged, "logged");
        QTEST(signalled, "signalled");
        QTEST(serial.IsOpen(), "openAfter");
    }
};

QTEST_MAIN(TestLink)
#include "test_link.moc"
