// The File and Help menus through the window: settings saved and loaded with
// the controller on a pseudo-terminal, the About box and the rename dialog.

#include "app/dialogs.h"
#include "support/testsupport.h"

#include <QtTest>
#include <QtWidgets>

namespace {

struct Rig
{
    PtyMaster pty;
    ScopedPortList ports{QList<PortEntry>()};  // nothing found at start
    MainWindow w;
    MainWindowProbe p{&w};
    MainWindowUi *ui = p.ui();

    // Opens the link without the connection set-up: its queries and the
    // slider refresh 500 ms later would mix with what a test checks. Another
    // process's lock file can outlive its pty for a moment while the number
    // is handed to us, hence the retries.
    bool Attach()
    {
        p.pollTimer()->stop();
        const QSignalBlocker quiet(p.serial());
        return QTest::qWaitFor([this] {
            p.serial()->SetPortName(pty.Open() ? pty.SlavePath() : QString());
            return p.serial()->OpenPort(true) == 1;
        }, 5000);
    }
};

// Answers the modal dialog of type D that the next action opens, from inside its loop.
template <typename D, typename F> void AnswerNext(F answer)
{
    QTimer::singleShot(0, [answer] {
        answer(qobject_cast<D *>(QApplication::activeModalWidget()));
    });
}

}  // namespace

class TestMenus : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QString saveAnswer, openAnswer;
    QStringList warnings;

private slots:
    void initTestCase()
    {
        SetFileDialogs([this](const FileDialogRequest &) { return saveAnswer; },
                       [this](const FileDialogRequest &) { return openAnswer; });
        SetWarningBox([this](QWidget *, const QString &, const QString &t) { warnings << t; });
        QLocale::setDefault(QLocale(QLocale::German));  // a decimal comma must not leak out
    }
    void init() { warnings.clear(); }

    void loadThenSave()
    {
        Rig r;
        QVERIFY(r.Attach());
        // Every field away from the form's value, so each widget must carry it both ways.
        const QByteArray body = "offset=-3.25\nrefPos=12.5\nmaxSpeed=1200\naccel=12000\n"
            "decel=15000\nholdTorque=35\nposA=1.5\nspeedA=3\ntimeA=0.25\nuseA=0\nposB=-7.125\n"
            "speedB=0.5\ntimeB=2\nuseB=0\nposC=7\nspeedC=1\ntimeC=3\nuseC=2\nposD=100\n"
            "speedD=1.25\ntimeD=10\nuseD=2\nloopCount=7\nrunLoopCont=2\n";
        QVERIFY(WriteFileBytes(openAnswer = dir.filePath("in.txt"), "# Movexa\n\n" + body));
        r.ui->actionLoad_Settings->trigger();
        QCOMPARE(r.ui->RefLabel->text() + "|" + r.ui->Offset_Label->text(),
                 QString("Current value: 12.5|Offset: -3.25"));
        r.ui->RefLineEdit->setText("99");  // typed, not confirmed: not saved
        saveAnswer = dir.filePath("out.txt");
        r.ui->actionSave_Settings->trigger();
        const QByteArray saved = ReadFileBytes(saveAnswer);
        QVERIFY2(saved.endsWith("\n\n" + body), saved.constData());

        saveAnswer += "/settings.txt";  // its "directory" is a file
        r.ui->actionSave_Settings->trigger();
        QCOMPARE(ReadFileBytes(dir.filePath("out.txt")), saved);
        QVERIFY2(warnings.size() == 1 && warnings[0].contains(saveAnswer),
                 qPrintable(warnings.join('|')));
    }

    void load_data()
    {
        QTest::addColumn<QString>("answer");  // empty: cancelled
        QTest::addColumn<QByteArray>("file");  // null: none written
        QTest::addColumn<double>("offset");  // 1.5 before the load
        QTest::addColumn<QByteArray>("sent");  // the form has 400, 30000, 30000, 20
        QTest::newRow("cancelled") << "" << QByteArray() << 1.5 << QByteArray();
        QTest::newRow("unreadable") << "none.txt" << QByteArray() << 1.5 << QByteArray();
        QTest::newRow("sliders unchanged") << "a.txt" << QByteArray("maxSpeed=400\nrefPos=-1.5\n")
                                           << 0.0 << QByteArray("refPos_-1500\n");
        QTest::newRow("beyond the maxima") << "b.txt"
            << QByteArray("maxSpeed=99999\nholdTorque=1e12\noffset=2\n") << 2.0
            << QByteArray("refPos_0\nspeed_8000\nholdTorque_75\n");
        QTest::newRow("accel and decel differ") << "c.txt"
            << QByteArray("accel=12000\ndecel=15000\n") << 0.0
            << QByteArray("refPos_0\ndecel_12000\naccel_12000\ndecel_15000\n");
    }
    void load()
    {
        QFETCH(QString, answer);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, sent);
        openAnswer = answer.isEmpty() ? answer : dir.filePath(answer);
        QVERIFY(file.isNull() || WriteFileBytes(openAnswer, file));
        Rig r;
        QVERIFY(r.Attach());
        r.p.posOffset() = 1.5;
        r.ui->actionLoad_Settings->trigger();
        r.p.serial()->WriteLn("#end");  // arrives after everything the load sent
        QTRY_COMPARE_WITH_TIMEOUT(r.pty.Received(), sent + "#end\n", 10000);
        QTEST(r.p.posOffset(), "offset");
        QCOMPARE(warnings.size(), answer == "none.txt" ? 1 : 0);  // a cancel is no failure
    }

    void about()
    {
        QStringList shown;
        for (double fw : {0.0, 5.0, 1234.0}) {  // 0: the controller never answered
            Rig r;
            if (fw != 0)
                r.p.params()->SetValue(QStringLiteral("fw"), fw);
            AnswerNext<QMessageBox>([&](QMessageBox *box) { shown << box->text(), box->accept(); });
            r.ui->actionAbout->trigger();
        }
        const QString sw = "Software Version 1.10\nFirmware Version ";
        QCOMPARE(shown, QStringList({sw + "0.00", sw + "0.05", sw + "12.34"}));
    }

    void rename()
    {
        Rig r;
        QStringList seen;  // the text each dialog opened with, then the title after it
        for (const QString &typed : QStringList{"Earlier", "", "   ", "Other"}) {  // Other: Cancel
            AnswerNext<QInputDialog>([&](QInputDialog *d) {
                seen << d->textValue();
                d->setTextValue(typed);
                typed == "Other" ? d->reject() : d->accept();
            });
            r.ui->actionName_Window->trigger();
            seen << r.w.windowTitle();
        }
        // Always opened empty; OK with an empty field keeps the title, blanks alone make one.
        QCOMPARE(seen, QStringList({"", "Earlier", "", "Earlier", "", "   ", "", "   "}));
    }
};

QTEST_MAIN(TestMenus)
#include "test_menus.moc"
