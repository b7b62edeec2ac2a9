// The File and Help menus: settings files with the controller on a pty, About, rename.

#include "app/dialogs.h"
#include "support/testsupport.h"
#include <QtTest>
#include <QtWidgets>

template <typename D, typename F> void AnswerNext(F answer)  // the next modal D, from its loop
{
    QTimer::singleShot(0, [answer] { answer(qobject_cast<D *>(qApp->activeModalWidget())); });
}

class TestMenus : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QString saveAnswer = dir.filePath("out.txt"), openAnswer;
    QStringList warnings;

private slots:
    void initTestCase()
    {
        SetFileDialogs([&](auto &) { return saveAnswer; }, [&](auto &) { return openAnswer; });
        SetWarningBox([this](QWidget *, const QString &, const QString &t) { warnings << t; });
        QLocale::setDefault(QLocale(QLocale::German));  // a decimal comma must not leak out
    }
    void init() { warnings.clear(); }

    // Loaded, then saved: each field carried both ways; a cancelled save; a path that cannot be.
    void loadThenSave()
    {
        WindowRig r;
        // Every field away from the form's value, so each widget must carry it both ways.
        const QString body = "offset=-3.25\nrefPos=12.5\nmaxSpeed=1200\naccel=12000\n"
            "decel=15000\nholdTorque=35\nposA=1.5\nspeedA=3\ntimeA=0.25\nuseA=0\nposB=-7.125\n"
            "speedB=0.5\ntimeB=2\nuseB=0\nposC=7\nspeedC=1\ntimeC=3\nuseC=2\nposD=100\n"
            "speedD=1.25\ntimeD=10\nuseD=2\nloopCount=7\nrunLoopCont=2\n";
        openAnswer = dir.filePath("in.txt");
        QVERIFY(WriteFileBytes(openAnswer, "# Movexa\n\n" + body.toLatin1()));
        r.ui->actionLoad_Settings->trigger();
        QCOMPARE(r.ui->RefLabel->text() + "|" + r.ui->Offset_Label->text(),
                 QString("Current value: 12.5|Offset: -3.25"));
        r.ui->RefLineEdit->setText("99");  // typed, not confirmed: not saved
        r.ui->PosBLineEdit->setText("x");  // not a number: saved as 0
        r.ui->actionSave_Settings->trigger();
        AppSettings_c loaded, saved;  // the file's format is the settings suite's
        QVERIFY(loaded.Load(openAnswer) == 0 && saved.Load(saveAnswer) == 0);
        QCOMPARE(ChangedFields(loaded, saved), QStringList("posB=0"));
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        saveAnswer.clear();  // cancelled: nothing written, nothing said
        r.ui->actionSave_Settings->trigger();
        QCOMPARE((QDir(dir.path()).entryList(QDir::Files) + warnings).join(", "), files.join(", "));
        saveAnswer = dir.filePath("in.txt/settings.txt");  // its "directory" is a file
        r.ui->actionSave_Settings->trigger();
        QVERIFY(warnings.size() == 1 && warnings[0].contains(saveAnswer));
    }

    // A null file cancels, an empty one is missing. Result: what was sent | offset [warnings].
    void load_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("result");
        QTest::newRow("cancelled") << QString() << "| 1.5 []";
        QTest::newRow("unreadable") << "" << "| 1.5 [No such file or directory]";
        QTest::newRow("decel last") << "maxSpeed=400\nrefPos=-1.5\naccel=12000\ndecel=15000"
            << "refPos_-1500 decel_12000 accel_12000 decel_15000 | 0 []";  // same speed: not sent
        QTest::newRow("beyond the maxima") << "maxSpeed=99999\nholdTorque=1e12\noffset=2"
                                           << "refPos_0 speed_8000 holdTorque_75 | 2 []";
        const QString atLimit = QString("offset=2\n").leftJustified(1 << 20, '#');  // 1 MiB
        QTest::newRow("1 MiB: read") << atLimit << "refPos_0 | 2 []";
        QTest::newRow("1 MiB and a byte: refused")
            << atLimit + "#" << "| 1.5 [File too large for a settings file]";
    }
    void load()
    {
        QFETCH(QString, file);
        openAnswer = file.isNull() ? QString() : dir.filePath(QTest::currentDataTag());
        QVERIFY(file.isEmpty() || WriteFileBytes(openAnswer, file.toLatin1()));
        WindowRig r;
        QVERIFY(r.OpenQuietly());
        r.p.posOffset() = 1.5;
        r.ui->actionLoad_Settings->trigger();
        r.p.serial()->WriteLn("|");  // arrives after everything the load sent
        QTRY_VERIFY(r.pty.Received().endsWith("|\n"));
        QStringList reasons;  // the last line of each warning
        for (const QString &warning : warnings)
            reasons << warning.section('\n', -1);
        QTEST(QString(r.pty.Received()).replace('\n', ' ') + QString::number(r.p.posOffset())
                  + " [" + reasons.join(", ") + "]", "result");
    }

    void aboutAndRename()
    {
        WindowRig r;
        QStringList shown;  // About's texts; per rename: the dialog's first text, the title
        for (double fw : {0.0, 5.0, 1234.0}) {  // 0 as at the start: never answered
            r.p.params()->SetValue(QStringLiteral("fw"), fw);
            AnswerNext<QMessageBox>([&](QMessageBox *b) { shown << b->text(), b->accept(); });
            r.ui->actionAbout->trigger();
        }
        for (const QString typed : {"Earlier", "", "   ", "Other"}) {  // "" keeps; Other: Cancel
            AnswerNext<QInputDialog>([&](QInputDialog *d) {
                shown << d->textValue();
                d->setTextValue(typed);
                typed == "Other" ? d->reject() : d->accept();
            });
            r.ui->actionName_Window->trigger();
            shown << r.w.windowTitle();
        }
        const QString sw = "Software Version 1.10\nFirmware Version ";
        QCOMPARE(shown, QStringList({sw + "0.00", sw + "0.05", sw + "12.34", "", "Earlier", "",
                                     "Earlier", "", "   ", "", "   "}));
    }
};

QTEST_MAIN(TestMenus)
#include "test_menus.moc"
