// The window's form and life cycle: names the slots depend on, validators,
// menus, tab order, start-up state and a clean exit.

#include "support/testsupport.h"

#include <QtTest>
#include <QtWidgets>

namespace {
QStringList capturedWarnings;
void CaptureWarnings(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type != QtDebugMsg)
        capturedWarnings << msg;
}
}  // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // No controller: an empty port list keeps the suite independent of
        // whatever serial hardware the machine has.
        ports = new ScopedPortList({});
    }
    void cleanup()
    {
        delete ports;
    }

    void namedObjectsHaveTheirClasses_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        const QList<QPair<const char *, const char *>> objects = {
            {"centralwidget", "QWidget"}, {"PosGroupBox", "QGroupBox"},
            {"AbsolutePos_Label", "QLabel"}, {"Offset_Label", "QLabel"},
            {"PosSetButton", "QPushButton"}, {"UnsetButton", "QPushButton"},
            {"leftLeftStepButton", "QPushButton"}, {"leftStepButton", "QPushButton"},
            {"posLineEdit", "QLineEdit"}, {"goButton", "QPushButton"},
            {"rightStepButton", "QPushButton"}, {"rightRightStepButton", "QPushButton"},
            {"backwards_cBox", "QCheckBox"}, {"RunButton", "QPushButton"},
            {"RefGroupBox", "QGroupBox"}, {"RefLineEdit", "QLineEdit"},
            {"RefSetButton", "QPushButton"}, {"RefLabel", "QLabel"},
            {"GoToRefButton", "QPushButton"}, {"HomingButton", "QPushButton"},
            {"SpeedSlider", "QSlider"}, {"VelLabel", "QLabel"}, {"AccelSlider", "QSlider"},
            {"AccelLabel", "QLabel"}, {"DecelSlider", "QSlider"}, {"DecelLabel", "QLabel"},
            {"TrqSlider", "QSlider"}, {"TrqLabel", "QLabel"},
            {"IdleRadioButton", "QRadioButton"}, {"MovingRadioButton", "QRadioButton"},
            {"ErrorRadioButton", "QRadioButton"}, {"typeLabel", "QLabel"}, {"snLabel", "QLabel"},
            {"updatePorts_Button", "QPushButton"}, {"serialPort_cBox", "QComboBox"},
            {"connected_cBox", "QCheckBox"}, {"LoopCountSlider", "QSlider"},
            {"LoopCountLabel", "QLabel"}, {"LoopCheckBox", "QCheckBox"},
            {"LoopButton", "QPushButton"}, {"buttonGroup", "QButtonGroup"},
            {"menubar", "QMenuBar"}, {"menuFile", "QMenu"}, {"menuHelp", "QMenu"},
            {"statusbar", "QStatusBar"}, {"actionSave_Settings", "QAction"},
            {"actionLoad_Settings", "QAction"}, {"actionAbout", "QAction"},
            {"actionName_Window", "QAction"},
        };
        for (const auto &o : objects)
            QTest::newRow(o.first) << o.first << o.second;
        for (const char *station : {"A", "B", "C", "D"}) {
            for (const char *field : {"Pos", "Vel", "Time"}) {
                const QByteArray name = QByteArray(field) + station + "LineEdit";
                QTest::newRow(name) << QString(name) << "QLineEdit";
            }
            const QByteArray box = QByteArray("use") + station + "_cBox";
            QTest::newRow(box) << QString(box) << "QCheckBox";
        }
    }
    void namedObjectsHaveTheirClasses()
    {
        QFETCH(QString, name);
        QFETCH(QString, className);
        MainWindow w;
        QObject *o = w.findChild<QObject *>(name);
        QVERIFY2(o, qPrintable(name));
        QCOMPARE(QString(o->metaObject()->className()), className);
    }

    // A widget renamed in the form silently loses its slot; every on_ slot
    // must find its sender, and Qt must not complain about any of them.
    void everyByNameSlotFindsItsSignal()
    {
        capturedWarnings.clear();
        QtMessageHandler previous = qInstallMessageHandler(CaptureWarnings);
        MainWindow w;
        qInstallMessageHandler(previous);
        QVERIFY2(capturedWarnings.filter("connectSlotsByName").isEmpty(),
                 qPrintable(capturedWarnings.join('\n')));

        const QMetaObject *mo = w.metaObject();
        int bySlotName = 0;
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
            const QMetaMethod slot = mo->method(i);
            const QByteArray name = slot.name();
            if (!name.startsWith("on_"))
                continue;
            ++bySlotName;
            const int cut = name.lastIndexOf('_');
            const QString object = name.mid(3, cut - 3);
            const QByteArray signal = name.mid(cut + 1) + '(' + slot.parameterTypes().join(',') + ')';
            QObject *sender = w.findChild<QObject *>(object);
            QVERIFY2(sender, name.constData());
            QVERIFY2(sender->metaObject()->indexOfSignal(signal) >= 0, name.constData());
        }
        QCOMPARE(bySlotName, 25);
    }

    void validators_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("returnReachesSlot");
        QTest::newRow("position three decimals") << "posLineEdit" << "1.005" << "1.005" << true;
        QTest::newRow("position fourth decimal") << "posLineEdit" << "0.9995" << "0.999" << true;
        QTest::newRow("position comma") << "RefLineEdit" << "1,5" << "15" << true;
        QTest::newRow("position exponent") << "PosALineEdit" << "1e3" << "13" << true;
        QTest::newRow("position negative") << "RefLineEdit" << "-1.5" << "-1.5" << true;
        QTest::newRow("position beyond range") << "posLineEdit" << "1001" << "1001" << false;
        QTest::newRow("speed fourth decimal") << "VelBLineEdit" << "0.0123" << "0.012" << true;
        QTest::newRow("speed exponent") << "VelCLineEdit" << "2e1" << "21" << true;
        QTest::newRow("time third decimal") << "TimeDLineEdit" << "1.255" << "1.25" << true;
        QTest::newRow("time comma") << "TimeALineEdit" << "1,5" << "15" << true;
    }
    void validators()
    {
        QFETCH(QString, edit);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(bool, returnReachesSlot);
        MainWindow w;
        auto *line = w.findChild<QLineEdit *>(edit);
        QVERIFY(line);
        line->clear();
        QTest::keyClicks(line, typed);
        QCOMPARE(line->text(), shown);
        QSignalSpy returns(line, &QLineEdit::returnPressed);
        QTest::keyClick(line, Qt::Key_Return);
        QCOMPARE(returns.count(), returnReachesSlot ? 1 : 0);
    }

    void menusHoldExactlyTheirEntries()
    {
        MainWindow w;
        MainWindowUi *ui = MainWindowProbe(&w).ui();
        auto texts = [](const QList<QAction *> &actions) {
            QStringList out;
            for (QAction *a : actions)
                out << a->text();
            return out;
        };
        QCOMPARE(texts(ui->menubar->actions()), QStringList({"File", "Help"}));
        QCOMPARE(texts(ui->menuFile->actions()),
                 QStringList({"Set Window Name...", "Save Settings...", "Load Settings..."}));
        QCOMPARE(texts(ui->menuHelp->actions()), QStringList({"About"}));
    }

    void tabChainFromReferenceToIdle()
    {
        MainWindow w;
        const QStringList chain = {"RefLineEdit", "RefSetButton", "GoToRefButton", "HomingButton",
            "backwards_cBox", "RunButton", "SpeedSlider", "AccelSlider", "DecelSlider", "TrqSlider",
            "PosALineEdit", "VelALineEdit", "TimeALineEdit", "PosBLineEdit", "VelBLineEdit",
            "TimeBLineEdit", "PosCLineEdit", "VelCLineEdit", "TimeCLineEdit", "PosDLineEdit",
            "VelDLineEdit", "TimeDLineEdit", "LoopCountSlider", "LoopCheckBox", "LoopButton",
            "ErrorRadioButton", "MovingRadioButton", "IdleRadioButton"};
        // Labels sit in the chain too but never take focus from Tab.
        auto nextTabStop = [](QWidget *from) {
            QWidget *next = from->nextInFocusChain();
            while (!(next->focusPolicy() & Qt::TabFocus))
                next = next->nextInFocusChain();
            return next;
        };
        for (int i = 0; i + 1 < chain.size(); ++i) {
            QWidget *from = w.findChild<QWidget *>(chain[i]);
            QCOMPARE(nextTabStop(from)->objectName(), chain[i + 1]);
        }
    }

    void startsInItsInitialState()
    {
        MainWindow w;
        MainWindowProbe p(&w);
        QCOMPARE(w.windowTitle(), QString("Movexa"));
        QCOMPARE(p.version(), QString("1.10"));
        QCOMPARE(p.ui()->LoopCountSlider->value(), 3);
        QCOMPARE(p.ui()->LoopCountLabel->text(), QString("3"));
        QVERIFY(p.pollTimer()->isActive());
        QCOMPARE(p.pollTimer()->interval(), 200);
        QVERIFY(!p.loopTimer()->isActive());
        QVERIFY(!p.serial()->IsOpen());
        QCOMPARE(p.ui()->serialPort_cBox->count(), 0);
        QVERIFY(p.ui()->IdleRadioButton->isChecked());
        QVERIFY(!p.ui()->RunButton->isEnabled());
        QCOMPARE(p.ui()->statusbar->currentMessage(), QString("Stage not homed.   "));
        // The form's "mrad" texts are all replaced by the stage type's unit.
        for (QWidget *child : w.findChildren<QWidget *>()) {
            QString text;
            if (auto *l = qobject_cast<QLabel *>(child))
                text = l->text();
            else if (auto *g = qobject_cast<QGroupBox *>(child))
                text = g->title();
            QVERIFY2(!text.contains("mrad"), qPrintable(child->objectName() + ": " + text));
        }
    }

    void statusRadioButtonsAreExclusive()
    {
        MainWindow w;
        MainWindowUi *ui = MainWindowProbe(&w).ui();
        for (QRadioButton *b : {ui->MovingRadioButton, ui->ErrorRadioButton, ui->IdleRadioButton}) {
            b->click();
            const int checked = ui->IdleRadioButton->isChecked() + ui->MovingRadioButton->isChecked()
                + ui->ErrorRadioButton->isChecked();
            QCOMPARE(checked, 1);
            QVERIFY(b->isChecked());
        }
    }

    // Closing the last window ends the event loop with 0, as main returns it,
    // and the window says nothing to the controller on its way out.
    void closingExitsWithZeroAndSendsNothing()
    {
        PtyMaster pty;
        if (!pty.Open())
            QSKIP("no pseudo-terminal available");
        ScopedPortList listed({PtyPortEntry(pty)});
        auto *w = new MainWindow;
        QVERIFY(MainWindowProbe(w).serial()->IsOpen());
        w->show();
        QTRY_VERIFY(pty.Received().contains("?holdTorque\n"));
        QTimer::singleShot(0, w, &QWidget::close);
        QCOMPARE(qApp->exec(), 0);
        pty.TakeReceived();
        delete w;
        QCoreApplication::processEvents();
        for (const QByteArray &line : Lines(pty.Received()))
            QVERIFY2(line == "?status" || line == "?pos" || line == "?refPos", line.constData());
    }

private:
    ScopedPortList *ports = nullptr;
};

QTEST_MAIN(TestForm)
#include "test_form.moc"
