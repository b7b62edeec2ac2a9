// The controller link: receive ring, reply parser, port discovery, the connect box on a pty.

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
        // A NUL ends a line's text; 300 characters at most, the rest is a line of its own.
        QTest::newRow("empty, NUL, 350 chars")
            << QByteArrayList{"\n", QByteArray("ab\0cd\nx\n", 8), QByteArray(350, 'x') + '\n'}
            << QStringList{"\n", "ab", "x\n", QString(300, 'x'), QString(50, 'x') + '\n'};
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
        Serial_c serial(nullptr, "6015");
        QStringList got;
        connect(&serial, &Serial_c::LineReceived, [&](const QString &line) { got << line; });
        for (const QByteArray &read : reads)
            serial.ProcessBytes(read);
        QTEST(got, "lines");
    }

    void parseIntoTable()
    {
        QSlider slider;
        ParamTable_c table;
        table.AddEntry("pos", 1e300, &slider, nullptr, 2, false, "");
        table.PushToControl(0);
        QCOMPARE(slider.value(), slider.maximum());  // saturated, not wrapped to negative
        Parser_c parser(&table);
        QString got;
        connect(&parser, &Parser_c::DisplayString, [&](QString t) { got += '[' + t + ']'; });
        for (const char *line : {"pos\n", "__pos__400_5_", "pos_-inf", "  ok_pos_5", "#pos_5",
                                 "12_34", " POS_1 \r\n", "___"}) {
            table.SetValue("pos", 99);
            parser.Parse(line);
            got += QString::number(table.ValueOf("pos")) + ' ';
        }
        QCOMPARE(got, QString("0 400 0 99 99 99 [POS_1]99 99 "));  // 99: untouched, [shown]
        for (int i = 1; i <= ParamTable_c::kMaxEntries; ++i)  // one too many
            table.AddEntry(QString::number(i), i, nullptr, nullptr, 0, false, "");
        QCOMPARE(table.Count(), ParamTable_c::kMaxEntries);
    }

    void checkPid()
    {
        ScopedPortList list({Port("a", 0x601), Port("b", 6015), Port("c"), Port("d", 0x6015),
                             Port("e", 0x6015)});  // a: part of the id, b: in decimal, c: none
        Serial_c serial(nullptr, "6015");
        QCOMPARE(serial.CheckPid() ? serial.PortName() : "none", QString("d"));
    }

    // A port that cannot be opened, then the pty: queries, replies, refreshes, a hang-up.
    void connectBox()
    {
        PtyMaster pty;
        if (!pty.Open())
            QSKIP(qPrintable("no pseudo-terminal: " + pty.ErrorString()));
        QStringList lines;  // outlives the window
        ScopedPortList list({Port("gone"), PtyPortEntry(pty, 0x6001)});  // start-up opens neither
        MainWindow w;
        MainWindowProbe probe(&w);
        MainWindowUi *ui = probe.ui();
        Serial_c *serial = probe.serial();
        probe.pollTimer()->stop();
        QSignalSpy changes(serial, &Serial_c::ConnectionChanged);
        connect(serial, &Serial_c::LineReceived, [&](const QString &line) { lines << line; });
        ui->updatePorts_Button->click();
        ui->connected_cBox->click();
        QTRY_VERIFY(!ui->connected_cBox->isChecked());
        ui->serialPort_cBox->setCurrentIndex(1);
        ui->connected_cBox->click();
        serial->WriteLn("?pos");  // after the twelve queries of a new connection
        QTRY_COMPARE(pty.Received(), "?pos\n?refPos\n?status\n?home\n?run\n?type\n?sn\n?fw\n"
                                     "?speed\n?accel\n?decel\n?holdTorque\n?pos\n");
        pty.Write("po");  // stored, but no line before its line feed
        QTRY_COMPARE(serial->Ring().writePos, 2);
        pty.Write("s_1\r\nok\r\nrefPos_-5\n");
        QTRY_COMPARE(lines, (QStringList{"pos_1\n", "ok\n", "refPos_-5\n"}));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(
            R"(^\("pts/\d+", "pseudo-terminal", "test", "/dev/pts/\d+", "403", "6001"\)$)"));
        ui->updatePorts_Button->click();
        QCOMPARE(ui->serialPort_cBox->currentIndex(), 1);
        ScopedPortList vanished({Port("ttyS0"), Port("ttyS1")});
        ui->updatePorts_Button->click();
        QCOMPARE(ui->serialPort_cBox->currentIndex(), -1);
        QSignalSpy errors(serial->Port(), &QSerialPort::errorOccurred);  // a storm: hundreds
        pty.Close();
        QTRY_VERIFY_WITH_TIMEOUT(!ui->connected_cBox->isChecked() && !serial->IsOpen(), 10000);
        QCOMPARE(changes.size(), 3);  // failed, opened, hung up: once each
        QVERIFY2(errors.size() <= 4, qPrintable(QString::number(errors.size()) + " errors"));
    }
};

QTEST_MAIN(TestLink)
#include "test_link.moc"
