// Opening the port while its device goes away: the outcome reported once, and as the port is.

#include "support/testsupport.h"

#include <QtTest>

class TestPortOpen : public QObject
{
    Q_OBJECT
private slots:
    // The first line setting (the speed) has been made; then the device goes. A hung-up
    // pseudo-terminal refuses the next setting; a real converter that vanished answers the
    // DTR request with a resource error, which closes the port just as the error report does.
    void deviceGoesDuringSetUp_data()
    {
        QTest::addColumn<bool>("hangUp");
        QTest::newRow("line hung up: the next setting refused") << true;
        QTest::newRow("resource error reported: the port closed") << false;
    }
    void deviceGoesDuringSetUp()
    {
        QFETCH(bool, hangUp);
        PtyMaster pty;
        if (!pty.Open())
            QSKIP("no pseudo-terminal available");
        Serial_c serial(nullptr, "6015");
        serial.SetPortName(pty.SlavePath());
        connect(serial.Port(), &QSerialPort::baudRateChanged, this, [&] {
            if (hangUp)
                pty.Close();
            else
                serial.HandleError(QSerialPort::ResourceError);
        });
        QSignalSpy changes(&serial, &Serial_c::ConnectionChanged);
        const int result = serial.OpenPort(true);
        QStringList reported;
        for (const QList<QVariant> &change : changes)
            reported << change.at(0).toString();
        // OpenPort's result, then every ConnectionChanged in order.
        QCOMPARE(QString::number(result) + ": " + reported.join(' '), QString("0: false"));
    }
};

QTEST_GUILESS_MAIN(TestPortOpen)
#include "test_portopen.moc"
