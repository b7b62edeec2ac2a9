// The window's form: the names the code reaches widgets by, validators, menus,
// tab order, start-up texts and a clean exit.

#include "support/testsupport.h"

#include <QtTest>
#include <QtWidgets>

class TestForm : public QObject
{
    Q_OBJECT
    ScopedPortList noPorts { {} };  // independent of the machine's serial hardware
    MainWindow *w = nullptr;
    MainWindowUi *ui = nullptr;

private slots:
    void init() { ui = MainWindowProbe(w = new MainWindow).ui(); }
    void cleanup() { delete w; }

    void validators_data()
    {
        for (const char *column : { "edit", "typed", "shown" })  // shown: text, Return's effect
            QTest::addColumn<QString>(column);
        QTest::newRow("position fourth decimal") << "posLineEdit" << "0.9995" << "0.999 sent";
        QTest::newRow("position comma, exponent") << "RefLineEdit" << "-1,e5" << "-15 sent";
        QTest::newRow("station comma, exponent") << "PosALineEdit" << "1,e3" << "13 sent";
        QTest::newRow("position out of range") << "posLineEdit" << "1001" << "1001 held";
        QTest::newRow("speed") << "VelBLineEdit" << "2,e0.0123" << "20.012 sent";
        QTest::newRow("time third decimal") << "TimeDLineEdit" << "1.255" << "1.25 sent";
    }
    void validators()
    {
        QFETCH(QString, edit);
        QFETCH(QString, typed);
        auto *line = w->findChild<QLineEdit *>(edit);
        QSignalSpy returns(line, &QLineEdit::returnPressed);
        line->clear();
        QTest::keyClicks(line, typed + '\r');  // Return reaches the slot only for acceptable text
        QTEST(line->text() + (returns.count() == 1 ? " sent" : " held"), "shown");
    }

    // What the code and the operator rely on: by-name slots (a renamed widget loses its
    // slot with no more than a warning), texts, menus, one status at a time, tab order.
    void formStructure()
    {
        static QStringList warnings;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { warnings << text; });
        delete new MainWindow;
        qInstallMessageHandler(previous);
        QCOMPARE(warnings.filter("connectSlotsByName"), QStringList());
        int bySlotName = 0;
        for (int i = 0; i < w->metaObject()->methodCount(); ++i)
            bySlotName += QByteArray(w->metaObject()->method(i).name()).startsWith("on_");
        QCOMPARE(bySlotName, 25);
        QStringList menus { w->windowTitle() };
        for (QAction *menu : ui->menubar->actions())
            for (QAction *entry : menu->menu()->actions())
                menus << menu->text() + ": " + entry->text();
        QCOMPARE(menus, QStringList({ "Movexa", "File: Set Window Name...",
                            "File: Save Settings...", "File: Load Settings...", "Help: About" }));
        for (QWidget *c : w->findChildren<QWidget *>())  // the unit replaced the form's "mrad"
            QVERIFY(!(c->property("text").toString() + c->property("title").toString())
                         .contains("mrad"));
        for (QAbstractButton *b : ui->buttonGroup->buttons()) {
            b->click();
            QCOMPARE(ui->IdleRadioButton->isChecked() + ui->MovingRadioButton->isChecked()
                    + ui->ErrorRadioButton->isChecked() + b->isChecked(), 2);  // b, and b only
        }
        QStringList chain;  // labels sit in the focus chain too but take no focus from Tab
        for (QWidget *at = ui->RefLineEdit; chain.size() < 28; at = at->nextInFocusChain())
            if (at->focusPolicy() & Qt::TabFocus)
                chain << at->objectName();
        QCOMPARE(chain.join(' '), QString("RefLineEdit RefSetButton GoToRefButton HomingButton "
            "backwards_cBox RunButton SpeedSlider AccelSlider DecelSlider TrqSlider PosALineEdit "
            "VelALineEdit TimeALineEdit PosBLineEdit VelBLineEdit TimeBLineEdit PosCLineEdit "
            "VelCLineEdit TimeCLineEdit PosDLineEdit VelDLineEdit TimeDLineEdit LoopCountSlider "
            "LoopCheckBox LoopButton ErrorRadioButton MovingRadioButton IdleRadioButton"));
    }

    // Closing the window ends the event loop with 0 and sends nothing on the way out.
    void closingExitsWithZeroAndSendsNothing()
    {
        PtyMaster pty;
        if (!pty.Open())
            QSKIP("no pseudo-terminal available");
        ScopedPortList listed({ PtyPortEntry(pty) });
        QScopedPointer<MainWindow> opened(new MainWindow);
        opened->show();
        QTRY_VERIFY(pty.Received().endsWith("?holdTorque\n"));  // the connection set-up is out
        QTimer::singleShot(0, opened.data(), &QWidget::close);
        QCOMPARE(qApp->exec(), 0);
        pty.TakeReceived();
        opened.reset();
        QCOMPARE(QString(pty.Received()).remove(QRegularExpression("\\?(status|pos|refPos)\n")),
            QString());  // polls at most
    }
};

QTEST_MAIN(TestForm)
#include "test_form.moc"
