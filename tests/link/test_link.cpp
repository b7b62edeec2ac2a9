// The controller link: the port on a real pseudo-terminal, the receive ring at
// its edges, the reply parser, port discovery and the window's connect box.

#include "link/parser.h"
#include "link/sysfsports.h"
#include "support/testsupport.h"

#include <QtTest>
#include <QtWidgets>

namespace {
using Bytes = QList<QByteArray>;

PortEntry Port(const QString &name, quint16 productId = 0)
{
    return {name, "", "", "/dev/" + name, quint16(productId ? 0x403 : 0), productId};
}

// The window with these ports listed; logs each connection change and the box after it.
struct Rig
{
    ScopedPortList list;
    QStringList changes;
    MainWindow w;
    MainWindowProbe probe{&w};
    MainWindowUi *ui = probe.ui();
    QCheckBox *box = ui->connected_cBox;
    Serial_c *serial = probe.serial();
    explicit Rig(const QList<PortEntry> &ports) : list(ports)
    {
        QObject::connect(serial, &Serial_c::ConnectionChanged, [this](bool on) {
            changes << QString(on ? "on, " : "off, ") + (box->isChecked() ? "ticked" : "clear");
        });
    }
};
}  // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void ring_data()
    {
        QTest::addColumn<Bytes>("reads");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty line") << Bytes{"\n"} << QStringList{"\n"};
        QTest::newRow("NUL") << Bytes{QByteArray("ab\0cd\nx\n", 8)} << QStringList{"ab", "x\n"};
        // 300 characters at most; the rest is a line of its own.
        QTest::newRow("350 chars") << Bytes{QByteArray(350, 'x') + '\n', "y\n"}
                                   << QStringList{QString(300, 'x'), QString(50, 'x') + '\n'};
        // 4094 bytes fill the ring, wrapped after the first line; the rest of
        // that read is lost. The lost line feeds cut only bytes that arrived.
        QStringList cut{"ccc\n"};
        for (int at = 0; at < 4094; at += 300)
            cut << QString(4094, 'a').mid(at, 300);
        QTest::newRow("full ring")
            << Bytes{"ccc\n", QByteArray(4094, 'a') + "zz" + QByteArray(20, '\n'), "q\n"}
            << cut + QStringList{"q\n"};
    }

    void ring()
    {
        QFETCH(Bytes, reads);
        QFETCH(QStringList, lines);
        Serial_c serial(nullptr, "6015");
        QStringList got;
        connect(&serial, &Serial_c::LineReceived, [&](const QString &line) { got << line; });
        for (const QByteArray &read : reads)
            serial.ProcessBytes(read);
        // Only the first lines are fixed: the rest of a cut line may come out at once.
        QCOMPARE(got.mid(0, lines.size()), lines);
    }

    void parse_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<double>("value");  // 99: untouched
        QTest::addColumn<QString>("shown");  // through DisplayString
        QTest::newRow("key alone") << "pos\n" << 0.0 << "";
        QTest::newRow("no number") << "pos_abc\n" << 0.0 << "";
        QTest::newRow("extra parts") << "pos_400_5\n" << 400.0 << "";
        QTest::newRow("doubled underscores") << "__pos__7_\n" << 7.0 << "";
        QTest::newRow("nan") << "pos_nan\n" << 0.0 << "";
        QTest::newRow("inf") << "pos_-inf\n" << 0.0 << "";
        QTest::newRow("ok") << "  ok_pos_5\n" << 99.0 << "";
        QTest::newRow("comment") << "#pos_5\n" << 99.0 << "";
        QTest::newRow("number first") << "12_34\n" << 99.0 << "";
        QTest::newRow("wrong case") << " POS_1 \r\n" << 99.0 << "POS_1";
        QTest::newRow("blank") << " \t \r\n" << 99.0 << "";
        QTest::newRow("underscores only") << "___\n" << 99.0 << "";
    }

    void parse()
    {
        ParamTable_c table;
        table.AddEntry("pos", 99, nullptr, nullptr, 0, false, "");
        Parser_c parser(&table);
        QStringList shown;
        connect(&parser, &Parser_c::DisplayString, [&](const QString &text) { shown << text; });
        QFETCH(QString, line);
        parser.Parse(line);
        QTEST(table.ValueOf("pos"), "value");
        QTEST(shown.join('|'), "shown");
    }

    void tableLimits()
    {
        QSlider slider;
        ParamTable_c table;
        table.AddEntry("huge", 1e300, &slider, nullptr, 2, false, "");
        table.PushToControl(0);
        QCOMPARE(slider.value(), slider.maximum());  // saturated, not wrapped to negative
        for (int i = 1; i <= ParamTable_c::kMaxEntries; ++i)  // one too many
            table.AddEntry(QString::number(i), i, nullptr, nullptr, 0, false, "");
        QCOMPARE(table.Count(), ParamTable_c::kMaxEntries);
        QCOMPARE(table.IndexOf("48"), -1);
    }

    void checkPid()
    {
        // Not the controller: a part of its id, its id read as decimal, no id.
        ScopedPortList list({Port("a", 0x601), Port("b", 6015), Port("c"), Port("d", 0x6015),
                             Port("e", 0x6015)});
        Serial_c serial(nullptr, "6015");
        QTest::ignoreMessage(QtDebugMsg, "Found port with PID  \"6015\"");
        QVERIFY(serial.CheckPid());
        QCOMPARE(serial.PortName(), QString("d"));
    }

    void sysfsTree()
    {
        QTemporaryDir tmp;
        const QString root = tmp.path() + '/', hub = "devices/usb1/";
        // The hub's ids are not the nearest; the isa slot has no UART.
        for (const QString &f : {hub + "idVendor=1d6b", hub + "idProduct=0002",
                                 hub + "1-2/idVendor=0403", hub + "1-2/idProduct=6015",
                                 QString("devices/pnp/tty/ttyS0/type=4"),
                                 QString("devices/isa/tty/ttyS1/type=0")}) {
            QFile file(root + f.section('=', 0, 0));
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly));
            file.write(f.section('=', 1).toUtf8() + '\n');
        }
        QVERIFY(QDir().mkpath(root + "class/tty"));
        const QList<QStringList> ports{{"ttyUSB0", hub + "1-2/1.0"}, {"ttyS0", "devices/pnp"},
                                       {"ttyS1", "devices/isa"}, {"tty1", ""}, {"rfcomm0", ""}};
        for (const QStringList &p : ports) {  // name, parent device (none: virtual)
            const QString dir = root + (p[1].isEmpty() ? "devices/virtual" : p[1]) + "/tty/" + p[0];
            QVERIFY(QDir().mkpath(dir) && QFile::link(dir, root + "class/tty/" + p[0]));
            QVERIFY(p[1].isEmpty() || QFile::link(root + p[1], dir + "/device"));
        }
        QStringList listed;  // by device path; with no USB strings the ids stand in
        for (const PortEntry &p : SysfsPorts(QFile::encodeName(root)).value_or(QList<PortEntry>{}))
            listed << QStringList{p.name, p.description, p.manufacturer, UsbIdText(p.vendorId),
                                  UsbIdText(p.productId)}.join('|');
        QCOMPARE(listed, QStringList({"ttyS0||||", "ttyUSB0|6015|0403|403|6015", "rfcomm0||||"}));
    }

    // A port that cannot be opened, then the pty: its queries, an exchange, a quiet close.
    void connectBox()
    {
        PtyMaster pty;
        if (!pty.Open())
            QSKIP(qPrintable("no pseudo-terminal: " + pty.ErrorString()));
        QStringList lines;  // outlives the window
        Rig rig({Port("gone"), PtyPortEntry(pty, 0x6001)});  // start-up opens neither
        rig.probe.pollTimer()->stop();
        rig.ui->updatePorts_Button->click();
        QElapsedTimer clock;
        clock.start();
        rig.box->click();
        QCOMPARE(rig.changes, QStringList{"off, ticked"});
        QTRY_VERIFY(!rig.box->isChecked());
        QVERIFY(clock.elapsed() >= 99);
        rig.ui->serialPort_cBox->setCurrentIndex(1);
        rig.box->click();
        rig.serial->WriteLn("?pos");  // after the twelve queries of a new connection
        QTRY_COMPARE(pty.Received(),
                     QByteArray("?pos\n?refPos\n?status\n?home\n?run\n?type\n?sn\n?fw\n?speed\n"
                                "?accel\n?decel\n?holdTorque\n?pos\n"));
        connect(rig.serial, &Serial_c::LineReceived, [&](const QString &line) { lines << line; });
        pty.Write("po");  // stored, but no line before its line feed
        QTRY_COMPARE(rig.serial->Ring().writePos, 2);
        pty.Write("s_1\r\n");
        pty.Write("ok\r\nrefPos_-5\n");
        QTRY_COMPARE(lines, (QStringList{"pos_1\n", "ok\n", "refPos_-5\n"}));
        rig.box->click();
        QVERIFY(!rig.serial->IsOpen());
        QCOMPARE(rig.changes, (QStringList{"off, ticked", "on, ticked"}));
    }

    // Start-up opens the controller's port, the refresh follows it, a hang-up closes it once.
    void startUpRefreshHangUp()
    {
        PtyMaster pty;
        if (!pty.Open())
            QSKIP(qPrintable("no pseudo-terminal: " + pty.ErrorString()));
        int errors = 0;  // outlives the window; a storm would be hundreds
        Rig rig({Port("ttyS0"), PtyPortEntry(pty)});
        const QString ours = QString(R"(("%1", "pseudo-terminal", "test", "%2", "403", "6015"))")
                                 .arg(rig.serial->PortName(), pty.SlavePath());
        QTest::ignoreMessage(QtDebugMsg, R"(("ttyS0", "", "", "/dev/ttyS0", "", ""))");
        QTest::ignoreMessage(QtDebugMsg, qPrintable(ours));
        rig.ui->updatePorts_Button->click();
        QCOMPARE(rig.ui->serialPort_cBox->currentIndex(), 1);
        ScopedPortList vanished({Port("ttyS0"), Port("ttyS1")});
        rig.ui->updatePorts_Button->click();
        QCOMPARE(rig.ui->serialPort_cBox->currentIndex(), -1);
        QTRY_VERIFY(rig.box->isChecked());
        connect(rig.serial->Port(), &QSerialPort::errorOccurred, [&] { ++errors; });
        QTest::ignoreMessage(QtDebugMsg, "Cable disconnected.");
        pty.Close();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.box->isChecked(), 10000);  // mirrors the closed port
        QCOMPARE(rig.changes, QStringList{"off, ticked"});
        QVERIFY2(errors <= 4, qPrintable(QString::number(errors) + " errors"));
    }
};

QTEST_MAIN(TestLink)
#include "test_link.moc"
