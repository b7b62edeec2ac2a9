// The reply parser's rules and the parameter table's conversions.

#include "link/parser.h"
#include "support/testsupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>

#include <climits>
#include <cmath>

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void emptyAndFullTable();
    void setFromControl();
    void pushToSlider_data();
    void pushToSlider();
    void pushToOtherWidgets();
    void formatEntry();
    void queriesOnTheWire();
};

void TestProtocol::parse_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("key");  // the row that changes, if any
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("displayed");

    QTest::newRow("reply") << "pos_1500\n" << "pos" << 1500.0 << "";
    QTest::newRow("key alone") << "pos\n" << "pos" << 0.0 << "";
    QTest::newRow("no number") << "pos_abc\n" << "pos" << 0.0 << "";
    QTest::newRow("extra parts") << "speed_400_5\n" << "speed" << 400.0 << "";
    QTest::newRow("stray underscores") << "__pos__7_\n" << "pos" << 7.0 << "";
    QTest::newRow("exponent") << "refPos_-2.5e3\n" << "refPos" << -2500.0 << "";
    QTest::newRow("nan") << "pos_nan\n" << "pos" << 0.0 << "";
    QTest::newRow("inf") << "pos_-inf\n" << "pos" << 0.0 << "";
    QTest::newRow("overflow") << "pos_1e400\n" << "pos" << 0.0 << "";
    QTest::newRow("ok") << "ok\n" << "" << 0.0 << "";
    QTest::newRow("ok with text") << "ok pos_5\n" << "" << 0.0 << "";
    QTest::newRow("ok indented") << "   ok_pos_5\n" << "" << 0.0 << "";
    QTest::newRow("comment") << "#pos_5\n" << "" << 0.0 << "";
    QTest::newRow("number first") << "12_34\n" << "" << 0.0 << "";
    QTest::newRow("wrong case") << " POS_1 \r\n" << "" << 0.0 << "POS_1";
    QTest::newRow("unknown key") << "\tfoo_3\n" << "" << 0.0 << "foo_3";
    QTest::newRow("empty") << "\n" << "" << 0.0 << "";
    QTest::newRow("blank") << " \t \r\n" << "" << 0.0 << "";
    QTest::newRow("underscores only") << "___\n" << "" << 0.0 << "";
}

void TestProtocol::parse()
{
    QFETCH(QString, line);
    QFETCH(QString, key);
    QFETCH(double, value);
    QFETCH(QString, displayed);

    // 99 marks a row the line must not touch.
    ParamTable_c table;
    for (const char *k : {"pos", "refPos", "speed"})
        table.AddEntry(k, 99, nullptr, nullptr, 0, false, k);
    Parser_c parser(&table);
    QSignalSpy display(&parser, &Parser_c::DisplayString);

    parser.Parse(line);
    for (int i = 0; i < table.Count(); ++i)
        QCOMPARE(table.Entry(i).value, table.Entry(i).key == key ? value : 99.0);
    QCOMPARE(display.count(), displayed.isEmpty() ? 0 : 1);
    if (!displayed.isEmpty())
        QCOMPARE(display.at(0).at(0).toString(), displayed);
}

void TestProtocol::emptyAndFullTable()
{
    ParamTable_c table;
    QCOMPARE(table.IndexOf("pos"), -1);
    QCOMPARE(table.IndexOfControl(nullptr), -1);
    QCOMPARE(table.ValueOf("pos"), 0.0);
    QCOMPARE(table.SetValue("pos", 1.0), -1);

    for (int i = 0; i < ParamTable_c::kMaxEntries; ++i)
        table.AddEntry("k" + QString::number(i), i, nullptr, nullptr, 0, false, "");
    table.AddEntry("extra", 1, nullptr, nullptr, 0, false, "");
    QCOMPARE(table.Count(), ParamTable_c::kMaxEntries);
    QCOMPARE(table.IndexOf("extra"), -1);
    QCOMPARE(table.Entry(ParamTable_c::kMaxEntries - 1).key, QString("k47"));
    QCOMPARE(table.SetValue("k47", 5.0), 47);
    QCOMPARE(table.ValueOf("k47"), 5.0);
}

void TestProtocol::setFromControl()
{
    ParamTable_c table;
    table.AddEntry("a", 0, nullptr, nullptr, 2, false, "");
    table.AddEntry("b", 0, nullptr, nullptr, 0, false, "");
    table.SetFromControl(0, 123);
    table.SetFromControl(1, 123);
    table.SetFromControl(2, 7);  // no such row
    table.SetFromControl(-1, 7);
    QCOMPARE(table.ValueOf("a"), 1.23);
    QCOMPARE(table.ValueOf("b"), 123.0);
}

void TestProtocol::pushToSlider_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<int>("position");

    QTest::newRow("truncates") << 1.239 << 2 << 123;
    QTest::newRow("toward zero") << -1.239 << 2 << -123;
    QTest::newRow("saturates up") << 1e300 << 0 << INT_MAX;
    QTest::newRow("saturates down") << -1e300 << 1 << INT_MIN;
    QTest::newRow("nan") << std::nan("") << 0 << 0;
}

void TestProtocol::pushToSlider()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(int, position);

    QSlider slider;
    slider.setRange(INT_MIN, INT_MAX);
    slider.setValue(42);
    ParamTable_c table;
    table.AddEntry("s", value, &slider, nullptr, decimals, false, "");
    table.PushToControl(0);
    QCOMPARE(slider.value(), position);
}

void TestProtocol::pushToOtherWidgets()
{
    QCheckBox box;
    QLabel label("unchanged");
    QLabel boundLabel;
    ParamTable_c table;
    table.AddEntry("box", 1, &box, nullptr, 0, false, "");
    table.AddEntry("label", -2.3456, nullptr, &boundLabel, 2, false, "");
    table.AddEntry("neither", 5, nullptr, nullptr, 0, false, "");
    table.AddEntry("labelWithControl", 5, &box, &label, 0, false, "");

    table.PushToControl(0);
    QVERIFY(box.isChecked());
    table.SetValue(0, 0.5);
    table.PushToControl(0);
    QVERIFY(!box.isChecked());
    table.PushToControl(1);
    QCOMPARE(boundLabel.text(), QString("-2.35"));
    table.PushToControl(2);
    table.PushToControl(3);
    QCOMPARE(label.text(), QString("unchanged"));
    QCOMPARE(table.IndexOfControl(&box), 0);
}

void TestProtocol::formatEntry()
{
    ParamTable_c table;
    table.AddEntry("gain", 3, nullptr, nullptr, 2, false, "");
    table.AddEntry("refPos", -1500, nullptr, nullptr, 0, false, "");
    QCOMPARE(table.FormatEntry(0), QString("gain_3.00"));
    QCOMPARE(table.FormatEntry(1), QString("refPos_-1500"));
}

void TestProtocol::queriesOnTheWire()
{
    PtyMaster pty;
    if (!pty.Open())
        QSKIP(qPrintable("no pseudo-terminal: " + pty.ErrorString()));
    Serial_c serial(nullptr, "6015");
    serial.SetPortName(pty.SlavePath());
    QCOMPARE(serial.OpenPort(true), 1);

    ParamTable_c table;
    table.RequestAll(&serial);  // no rows: nothing at all
    table.AddEntry("pos", 0, nullptr, nullptr, 0, false, "");
    table.AddEntry("refPos", -1500, nullptr, nullptr, 0, false, "");
    table.RequestAll(&serial);
    table.SendEntry(1, &serial);
    QTRY_COMPARE(pty.Received(), QByteArray("?pos\n?refPos\nrefPos_-1500\n"));
}

QTEST_MAIN(TestProtocol)
#include "test_protocol.moc"
