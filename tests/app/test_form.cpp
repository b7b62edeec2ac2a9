// The window's form: the names the code reaches widgets by, validators, menus, tab order.

#include "support/testsupport.h"
#include <QtTest>
#include <QtWidgets>

class TestForm : public QObject
{
    Q_OBJECT
    ScopedPortList noPorts { {} };  // independent of the machine's serial hardware
    QScopedPointer<MainWindow> w;

private slots:
    void initTestCase() { FilterPlatformNoise(); }
    void init() { w.reset(new MainWindow); }

    void validators_data()
    {
        QTest::addColumn<QString>("shown");  // tags: the edit, what is typed
        QTest::newRow("RefLineEdit -1,e0.9995") << "-10.999 sent";  // comma, exponent, 4th decimal
        QTest::newRow("VelBLineEdit 2,e00.0123") << "200.012 held";  // Return only when acceptable
        QTest::newRow("TimeDLineEdit 1.255") << "1.25 sent";  // times take two decimals
        QTest::newRow("PosALineEdit -1000") << "-1000 sent";  // the ranges' ends
        QTest::newRow("PosALineEdit 1000.5") << "1000.5 held";
        QTest::newRow("VelALineEdit 0.009") << "0.009 held";
        QTest::newRow("TimeALineEdit 3600.5") << "3600.5 held";
    }
    void validators()
    {
        const QStringList tag = QString(QTest::currentDataTag()).split(' ');
        auto *line = w->findChild<QLineEdit *>(tag[0]);
        QSignalSpy returns(line, &QLineEdit::returnPressed);
        line->clear();
        QTest::keyClicks(line, tag[1] + '\r');
        QTEST(line->text() + (returns.count() == 1 ? " sent" : " held"), "shown");
    }

    void formStructure()
    {
        static QStringList warnings;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { warnings << text; });
        delete new MainWindow;
        qInstallMessageHandler(previous);
        QStringList seen = warnings.filter("connectSlotsByName");  // a renamed widget's lost slot
        int bySlotName = 0;
        for (int i = 0; i < w->metaObject()->methodCount(); ++i)
            bySlotName += QByteArray(w->metaObject()->method(i).name()).startsWith("on_");
        seen << QString::number(bySlotName) << w->windowTitle();
        MainWindowUi *ui = MainWindowProbe(w.data()).ui();
        const QTimer *poll = MainWindowProbe(w.data()).pollTimer();  // five times a second
        seen << QString("polls every %1 ms").arg(poll->isSingleShot() ? 0 : poll->interval())
             << "[" + ui->statusbar->currentMessage() + "] " + ui->LoopCountLabel->text()
                    + " loops";
        for (QAction *menu : ui->menubar->actions())
            for (QAction *entry : menu->menu()->actions())
                seen << menu->text() + ": " + entry->text();
        QStringList chain;  // names without their type; labels take no focus from Tab
        for (QWidget *at = ui->RefLineEdit; chain.size() < 28; at = at->nextInFocusChain())
            if (at->focusPolicy() & Qt::TabFocus)
                chain << at->objectName().remove(QRegularExpression("LineEdit|Button|Slider"));
        QCOMPARE(seen << chain.join(' '), QStringList({"25", "Movexa", "polls every 200 ms",
            "[Stage not homed.   ] 3 loops", "File: Set Window Name...",
            "File: Save Settings...", "File: Load Settings...", "Help: About", "Ref RefSet "
            "GoToRef Homing backwards_cBox Run Speed Accel Decel Trq PosA VelA TimeA PosB VelB "
            "TimeB PosC VelC TimeC PosD VelD TimeD LoopCount LoopCheckBox Loop ErrorRadio "
            "MovingRadio IdleRadio"}));
        ui->ErrorRadioButton->click();  // one status at a time: Idle, as at the start, then Error
        ui->MovingRadioButton->click();
        QVERIFY(!ui->IdleRadioButton->isChecked() && !ui->ErrorRadioButton->isChecked());
    }

    void unitTexts()  // a rotation stage's unit wherever a title or label carries one
    {
        MainWindowProbe(w.data()).SetStageType(1);
        MainWindowUi *ui = MainWindowProbe(w.data()).ui();
        QCOMPARE((QStringList{ui->RefGroupBox->title(), ui->PosGroupBox->title(),
                              ui->SpeedLabel->text(), ui->AccelLabel_2->text(),
                              ui->DecelLabel_2->text(), ui->PLabel->text(), ui->SLabel->text()}),
                 (QStringList{"Absolute Reference Position (rad)", "Position (rad)",
                              "max.Speed (rad/s)", "Accel (rad/s^2)", "Decel (rad/s^2)",
                              "Position (rad)", "Speed (rad/s)"}));
    }

    void closingExitsWithZeroAndSendsOnlyQueries()
    {
        PtyMaster pty;
        if (!pty.Open())
            QSKIP("no pseudo-terminal available");
        ScopedPortList listed({ PtyPortEntry(pty) });
        w.reset(new MainWindow);
        w->show();
        QTRY_VERIFY(pty.Received().endsWith("?holdTorque\n"));  // the link is up
        QCOMPARE(w->findChild<QComboBox *>("serialPort_cBox")->currentText(),
                 PtyPortEntry(pty).name);  // listed, with the port it opened chosen
        QTimer::singleShot(0, w.data(), &QWidget::close);
        QCOMPARE(qApp->exec(), 0);
        w.reset();
        QSerialPort peer(pty.SlavePath());  // its marker arrives after anything the window wrote
        QVERIFY(peer.open(QIODevice::WriteOnly) && peer.write("#") == 1);
        QTRY_COMPARE(QString(pty.Received()).remove(QRegularExpression("\\?.*\n")), QString("#"));
    }
};

QTEST_MAIN(TestForm)
#include "test_form.moc"
