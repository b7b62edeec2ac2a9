// The window's connection control: start-up discovery, the connected box, the
// port list refresh and a hang-up, on the real window and a pseudo-terminal.

#include "support/testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#define OPEN_PTY(pty)                                                                              \
    if (!(pty).Open())                                                                             \
    QSKIP(qPrintable("no pseudo-terminal: " + (pty).ErrorString()))

namespace {

const QList<QByteArray> kQueries{"?pos",  "?refPos", "?status", "?home",  "?run",   "?type",
                                 "?sn",   "?fw",     "?speed",  "?accel", "?decel", "?holdTorque"};

// The pty listed the way the system lists ports: a name relative to /dev,
// which is also what QSerialPort reports back as its port name.
PortEntry ListedPty(const PtyMaster &pty, quint16 productId)
{
    PortEntry e = PtyPortEntry(pty, productId);
    if (e.name.startsWith("/dev/"))
        e.name = e.name.mid(5);
    return e;
}

PortEntry PlainPort(const QString &name)
{
    PortEntry e;
    e.name = name;
    e.systemLocation = "/dev/" + name;
    return e;
}

QList<QByteArray> FirstLines(const QByteArray &bytes, int n)
{
    return Lines(bytes).mid(0, n);
}

// Collects debug lines while alive.
QStringList *capturedLines = nullptr;
void Capture(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg && capturedLines)
        capturedLines->append(text);
}
struct DebugCapture
{
    QStringList lines;
    QtMessageHandler previous;
    DebugCapture()
    {
        capturedLines = &lines;
        previous = qInstallMessageHandler(Capture);
    }
    ~DebugCapture()
    {
        qInstallMessageHandler(previous);
        capturedLines = nullptr;
    }
};

}  // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QSerialPort::SerialPortError>(); }
    void startUpOpensAndQueries();
    void tickOpensClearCloses();
    void refreshFollowsOpenPort();
    void hangUpClearsBox();
    void failedOpenClearsBoxLater();
};

void TestConnection::startUpOpensAndQueries()
{
    PtyMaster pty;
    OPEN_PTY(pty);
    ScopedPortList ports({ListedPty(pty, 0x6015)});
    MainWindow w;
    MainWindowProbe probe(&w);

    QVERIFY(probe.serial()->IsOpen());
    QCOMPARE(probe.ui()->serialPort_cBox->count(), 1);
    QCOMPARE(probe.ui()->serialPort_cBox->currentIndex(), 0);
    QVERIFY(!probe.ui()->connected_cBox->isChecked());
    QTRY_VERIFY(probe.ui()->connected_cBox->isChecked());
    QTRY_VERIFY(Lines(pty.Received()).size() >= kQueries.size());
    QCOMPARE(FirstLines(pty.Received(), kQueries.size()), kQueries);
}

void TestConnection::tickOpensClearCloses()
{
    PtyMaster pty;
    OPEN_PTY(pty);
    // Not the controller's id, so start-up leaves the port closed.
    ScopedPortList ports({ListedPty(pty, 0x6001), PlainPort("ttyS0")});
    MainWindow w;
    MainWindowProbe probe(&w);
    QCheckBox *box = probe.ui()->connected_cBox;
    QVERIFY(!probe.serial()->IsOpen());
    QCOMPARE(probe.ui()->serialPort_cBox->count(), 0);

    probe.ui()->updatePorts_Button->click();
    QCOMPARE(probe.ui()->serialPort_cBox->currentIndex(), 0);
    box->click();
    QVERIFY(probe.serial()->IsOpen());
    QTRY_VERIFY(Lines(pty.Received()).size() >= kQueries.size());
    QCOMPARE(FirstLines(pty.Received(), kQueries.size()), kQueries);
    QTRY_VERIFY(box->isChecked());

    // Whatever the slot might write before closing would still sit in the
    // port's buffer when it closes.
    probe.pollTimer()->stop();
    QTRY_COMPARE(probe.serial()->Port()->bytesToWrite(), qint64(0));
    qint64 unsent = -1;
    connect(probe.serial()->Port(), &QIODevice::aboutToClose, this,
            [&] { unsent = probe.serial()->Port()->bytesToWrite(); });
    QSignalSpy changed(probe.serial(), &Serial_c::ConnectionChanged);
    box->click();
    QVERIFY(!probe.serial()->IsOpen());
    QCOMPARE(unsent, qint64(0));
    QCOMPARE(changed.count(), 0);
    QVERIFY(!box->isChecked());
}

void TestConnection::refreshFollowsOpenPort()
{
    PtyMaster pty;
    OPEN_PTY(pty);
    ScopedPortList ports({PlainPort("ttyS0"), ListedPty(pty, 0x6015)});
    MainWindow w;
    MainWindowProbe probe(&w);
    QComboBox *list = probe.ui()->serialPort_cBox;
    QVERIFY(probe.serial()->IsOpen());
    QCOMPARE(list->currentIndex(), 1);
    QCOMPARE(list->itemData(1).toStringList(),
             (QStringList{probe.serial()->PortName(), "pseudo-terminal", "test", pty.SlavePath(),
                          "403", "6015"}));

    {
        DebugCapture log;
        probe.ui()->updatePorts_Button->click();
        QCOMPARE(log.lines,
                 (QStringList{R"(("ttyS0", "", "", "/dev/ttyS0", "", ""))",
                              QString(R"(("%1", "pseudo-terminal", "test", "%2", "403", "6015"))")
                                  .arg(probe.serial()->PortName(), pty.SlavePath())}));
    }
    QCOMPARE(list->currentIndex(), 1);

    ScopedPortList vanished({PlainPort("ttyS0"), PlainPort("ttyS1")});
    probe.ui()->updatePorts_Button->click();
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->currentIndex(), -1);
    QVERIFY(probe.serial()->IsOpen());
}

void TestConnection::hangUpClearsBox()
{
    PtyMaster pty;
    OPEN_PTY(pty);
    ScopedPortList ports({ListedPty(pty, 0x6015)});
    MainWindow w;
    MainWindowProbe probe(&w);
    QTRY_VERIFY(probe.ui()->connected_cBox->isChecked());
    QSignalSpy changed(probe.serial(), &Serial_c::ConnectionChanged);
    QSignalSpy errors(probe.serial()->Port(), &QSerialPort::errorOccurred);

    pty.Close();
    QTRY_VERIFY_WITH_TIMEOUT(!probe.serial()->IsOpen(), 10000);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), false);
    QVERIFY(probe.ui()->connected_cBox->isChecked());
    QTRY_VERIFY(!probe.ui()->connected_cBox->isChecked());
    QCOMPARE(changed.count(), 1);
    QVERIFY2(errors.count() <= 4, qPrintable(QString::number(errors.count()) + " errors"));
}

void TestConnection::failedOpenClearsBoxLater()
{
    ScopedPortList ports({});
    MainWindow w;
    MainWindowProbe probe(&w);
    QCheckBox *box = probe.ui()->connected_cBox;
    QSignalSpy changed(probe.serial(), &Serial_c::ConnectionChanged);

    // Nothing listed: the tick is taken back at once.
    box->click();
    QVERIFY(!box->isChecked());
    QCOMPARE(changed.count(), 0);

    ScopedPortList gone({PlainPort("movexa-no-such-port")});
    probe.ui()->updatePorts_Button->click();
    box->click();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), false);
    QVERIFY(box->isChecked());
    QTRY_VERIFY(!box->isChecked());
    QVERIFY(!probe.serial()->IsOpen());
}

QTEST_MAIN(TestConnection)
#include "test_connection.moc"
