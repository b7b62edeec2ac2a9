// The File and Help menus through the window: settings saved and loaded with
// the controller on a pseudo-terminal, the About box and the rename dialog.

#include "app/dialogs.h"
#include "settings/appsettings.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// A window whose link is open on a pty, without the connection set-up: that
// reloads the sliders from the table 500 ms later and would race the checks.
struct Rig
{
    PtyMaster pty;
    ScopedPortList ports{QList<PortEntry>()};  // nothing found at start
    MainWindow w;
    MainWindowProbe p{&w};

    bool Attach()
    {
        if (!pty.Open())
            return false;
        p.pollTimer()->stop();
        QObject::disconnect(p.serial(), &Serial_c::ConnectionChanged, &w, &MainWindow::NewConnection);
        p.serial()->SetPortName(pty.SlavePath());
        return p.serial()->OpenPort(true) == 1;
    }

    // Command lines the controller received since the last call. A marker
    // line written last shows that everything before it has arrived.
    QList<QByteArray> Sent()
    {
        p.serial()->WriteLn("#end");
        if (!QTest::qWaitFor([this] { return pty.Received().endsWith("#end\n"); }, 10000))
            return {"<no marker>"};
        QList<QByteArray> lines = Lines(pty.TakeReceived());
        lines.removeLast();
        return lines;
    }
};

// Answers the next modal dialog of type D from inside its event loop.
template <typename D>
class WhenModal
{
public:
    explicit WhenModal(std::function<void(D *)> answer)
    {
        QObject::connect(&timer, &QTimer::timeout, [this, answer] {
            if (auto *d = qobject_cast<D *>(QApplication::activeModalWidget())) {
                timer.stop();
                answered = true;
                answer(d);
            }
        });
        timer.start(5);
    }
    bool answered = false;

private:
    QTimer timer;
};

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

}  // namespace

class TestMenus : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void saveAndLoadRoundTrip();
    void loadSendsChangedValues_data();
    void loadSendsChangedValues();
    void refusedLoadChangesNothing_data();
    void refusedLoadChangesNothing();
    void failedSaveWarns();
    void aboutText_data();
    void aboutText();
    void rename_data();
    void rename();

private:
    QTemporaryDir dir;
    QString saveAnswer;
    QString openAnswer;
    QList<FileDialogRequest> requests;
    QStringList warnings;
};

void TestMenus::init()
{
    saveAnswer.clear();
    openAnswer.clear();
    requests.clear();
    warnings.clear();
    SetFileDialogs(
        [this](const FileDialogRequest &r) { requests << r; return saveAnswer; },
        [this](const FileDialogRequest &r) { requests << r; return openAnswer; });
    SetWarningBox([this](QWidget *, const QString &, const QString &text) { warnings << text; });
}

void TestMenus::cleanup()
{
    SetFileDialogs({}, {});
    SetWarningBox({});
}

void TestMenus::saveAndLoadRoundTrip()
{
    Rig r;
    QVERIFY(r.Attach());
    MainWindowUi *ui = r.p.ui();

    r.p.posOffset() = -3.25;
    r.p.params()->SetValue(QStringLiteral("refPos"), 12500);  // reported by the controller
    ui->RefLineEdit->setText("99");  // typed but not confirmed: not saved
    ui->SpeedSlider->setValue(1200);
    ui->AccelSlider->setValue(12000);
    ui->DecelSlider->setValue(15000);
    ui->TrqSlider->setValue(35);
    const QStringList typed = {"1.50", "3", "0.25", "-7.125", "0.5", "2", "", "1", "0", "100", "1", "10"};
    QLineEdit *edits[] = {ui->PosALineEdit, ui->VelALineEdit, ui->TimeALineEdit, ui->PosBLineEdit,
                          ui->VelBLineEdit, ui->TimeBLineEdit, ui->PosCLineEdit, ui->VelCLineEdit,
                          ui->TimeCLineEdit, ui->PosDLineEdit, ui->VelDLineEdit, ui->TimeDLineEdit};
    for (int i = 0; i < 12; ++i)
        edits[i]->setText(typed[i]);
    QCheckBox *boxes[] = {ui->useA_cBox, ui->useB_cBox, ui->useC_cBox, ui->useD_cBox, ui->LoopCheckBox};
    const bool checked[] = {false, true, false, true, true};
    for (int i = 0; i < 5; ++i)
        boxes[i]->setChecked(checked[i]);
    ui->LoopCountSlider->setValue(7);

    saveAnswer = dir.filePath("round.txt");
    ui->actionSave_Settings->trigger();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].parent, &r.w);
    QCOMPARE(requests[0].caption, QString("Save File"));
    QCOMPARE(requests[0].startPath, QDir::homePath() + "/settings.txt");
    QCOMPARE(requests[0].filter, QString("TextFiles (*.txt)"));
    QVERIFY(warnings.isEmpty());
    const QByteArray file = ReadAll(saveAnswer);
    QVERIFY(file.contains("\nrefPos=12.5\n"));
    QVERIFY(file.contains("\nposC=0\n"));
    QVERIFY(file.contains("\nuseB=2\n"));

    // Scramble everything, then load.
    r.p.posOffset() = 0;
    ui->SpeedSlider->setValue(5000);
    ui->AccelSlider->setValue(20000);
    ui->TrqSlider->setValue(60);
    for (QLineEdit *e : edits)
        e->setText("5");
    for (QCheckBox *b : boxes)
        b->toggle();
    ui->LoopCountSlider->setValue(1);
    r.Sent();

    openAnswer = saveAnswer;
    ui->actionLoad_Settings->trigger();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[1].caption, QString("Open File"));
    QCOMPARE(requests[1].startPath, QDir::homePath());
    QCOMPARE(requests[1].filter, QString("TextFiles (*.txt)"));
    QVERIFY(warnings.isEmpty());

    QCOMPARE(r.p.posOffset(), -3.25);
    QCOMPARE(ui->Offset_Label->text(), QString("Offset: -3.25"));
    QCOMPARE(ui->RefLineEdit->text(), QString("12.5"));
    QCOMPARE(ui->RefLabel->text(), QString("Current value: 12.5"));
    QCOMPARE(r.p.params()->ValueOf("refPos"), 12500.0);
    QCOMPARE(ui->SpeedSlider->value(), 1200);
    QCOMPARE(ui->AccelSlider->value(), 12000);
    QCOMPARE(ui->DecelSlider->value(), 15000);
    QCOMPARE(ui->TrqSlider->value(), 35);
    const QStringList shown = {"1.5", "3", "0.25", "-7.125", "0.5", "2", "0", "1", "0", "100", "1", "10"};
    for (int i = 0; i < 12; ++i)
        QCOMPARE(edits[i]->text(), shown[i]);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(boxes[i]->isChecked(), checked[i]);
    QCOMPARE(ui->LoopCountSlider->value(), 7);
}

void TestMenus::loadSendsChangedValues_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("accel");
    QTest::addColumn<int>("decel");
    QTest::addColumn<int>("torque");
    QTest::addColumn<QList<QByteArray>>("sent");

    // The window starts at the form's values: 400, 30000, 30000, 20.
    QTest::newRow("sliders unchanged")
        << QByteArray("maxSpeed=400\naccel=30000\ndecel=30000\nholdTorque=20\nrefPos=-1.5\n")
        << 400 << 30000 << 30000 << 20 << QList<QByteArray>{"refPos_-1500"};
    QTest::newRow("beyond the maxima") << QByteArray("maxSpeed=99999\nholdTorque=1e12\n") << 8000
                                       << 30000 << 30000 << 75
                                       << QList<QByteArray>{"refPos_0", "speed_8000", "holdTorque_75"};
    QTest::newRow("accel and decel differ")
        << QByteArray("accel=12000\ndecel=15000\n") << 400 << 12000 << 15000 << 20
        << QList<QByteArray>{"refPos_0", "decel_12000", "accel_12000", "decel_15000"};
    QTest::newRow("accel and decel equal")
        << QByteArray("accel=12000\ndecel=12000\n") << 400 << 12000 << 12000 << 20
        << QList<QByteArray>{"refPos_0", "decel_12000", "accel_12000"};
}

void TestMenus::loadSendsChangedValues()
{
    QFETCH(QByteArray, file);
    QFETCH(int, speed);
    QFETCH(int, accel);
    QFETCH(int, decel);
    QFETCH(int, torque);
    QFETCH(QList<QByteArray>, sent);

    openAnswer = dir.filePath("partial.txt");
    QFile f(openAnswer);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(file);
    f.close();

    Rig r;
    QVERIFY(r.Attach());
    r.p.ui()->actionLoad_Settings->trigger();
    QCOMPARE(r.Sent(), sent);
    QCOMPARE(r.p.ui()->SpeedSlider->value(), speed);
    QCOMPARE(r.p.ui()->AccelSlider->value(), accel);
    QCOMPARE(r.p.ui()->DecelSlider->value(), decel);
    QCOMPARE(r.p.ui()->TrqSlider->value(), torque);
}

void TestMenus::refusedLoadChangesNothing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("warns");
    QTest::newRow("cancelled") << QString() << false;
    QTest::newRow("missing file") << dir.filePath("missing.txt") << true;
    QTest::newRow("directory") << dir.path() << true;
}

void TestMenus::refusedLoadChangesNothing()
{
    QFETCH(QString, answer);
    QFETCH(bool, warns);

    Rig r;
    QVERIFY(r.Attach());
    MainWindowUi *ui = r.p.ui();
    // A cancelled save leaves older values in the record; they must not
    // come back.
    ui->SpeedSlider->setValue(1200);
    ui->actionSave_Settings->trigger();
    ui->SpeedSlider->setValue(2000);
    ui->PosALineEdit->setText("9");
    r.p.posOffset() = 1.5;
    const QString refLabel = ui->RefLabel->text();
    r.Sent();

    openAnswer = answer;
    ui->actionLoad_Settings->trigger();
    QCOMPARE(r.Sent(), QList<QByteArray>());
    QCOMPARE(ui->SpeedSlider->value(), 2000);
    QCOMPARE(ui->PosALineEdit->text(), QString("9"));
    QCOMPARE(r.p.posOffset(), 1.5);
    QCOMPARE(ui->RefLabel->text(), refLabel);
    QCOMPARE(warnings.size(), warns ? 1 : 0);
    if (warns)
        QVERIFY2(warnings[0].contains(QDir::toNativeSeparators(answer)), qPrintable(warnings[0]));
}

void TestMenus::failedSaveWarns()
{
    const QString plain = dir.filePath("plain.txt");
    const QByteArray old = "maxSpeed=250\n";
    QFile f(plain);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(old);
    f.close();

    Rig r;
    saveAnswer = plain + "/settings.txt";  // its "directory" is a file
    r.p.ui()->actionSave_Settings->trigger();
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings[0].contains(QDir::toNativeSeparators(saveAnswer)), qPrintable(warnings[0]));
    QCOMPARE(ReadAll(plain), old);
}

void TestMenus::aboutText_data()
{
    QTest::addColumn<QVariant>("fw");  // invalid: the controller never answered
    QTest::addColumn<QString>("expected");
    QTest::newRow("not reported") << QVariant() << "Software Version 1.10\nFirmware Version 0.00";
    QTest::newRow("5") << QVariant(5.0) << "Software Version 1.10\nFirmware Version 0.05";
    QTest::newRow("1234") << QVariant(1234.0) << "Software Version 1.10\nFirmware Version 12.34";
}

void TestMenus::aboutText()
{
    QFETCH(QVariant, fw);
    QFETCH(QString, expected);

    // A decimal comma in the operator's locale must not reach the box.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Rig r;
    if (fw.isValid())
        r.p.params()->SetValue(QStringLiteral("fw"), fw.toDouble());

    QString text, title;
    WhenModal<QMessageBox> answer([&](QMessageBox *box) {
        text = box->text();
        title = box->windowTitle();
        box->accept();
    });
    r.p.ui()->actionAbout->trigger();
    QLocale::setDefault(QLocale::c());
    QVERIFY(answer.answered);
    QCOMPARE(title, QString("Movexa"));
    QCOMPARE(text, expected);
}

void TestMenus::rename_data()
{
    QTest::addColumn<QString>("entered");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("title");
    QTest::newRow("name") << "Stage 1" << true << "Stage 1";
    QTest::newRow("OK with empty field") << "" << true << "Earlier";
    QTest::newRow("blanks only") << "   " << true << "   ";
    QTest::newRow("cancel") << "Other" << false << "Earlier";
}

void TestMenus::rename()
{
    QFETCH(QString, entered);
    QFETCH(bool, ok);
    QFETCH(QString, title);

    Rig r;
    QStringList opened;
    auto renameTo = [&](const QString &text, bool accept) {
        WhenModal<QInputDialog> answer([&](QInputDialog *d) {
            opened << d->windowTitle() + "|" + d->labelText() + "|" + d->textValue();
            d->setTextValue(text);
            accept ? d->accept() : d->reject();
        });
        r.p.ui()->actionName_Window->trigger();
        return answer.answered;
    };
    QVERIFY(renameTo("Earlier", true));
    QCOMPARE(r.w.windowTitle(), QString("Earlier"));
    QVERIFY(renameTo(entered, ok));
    QCOMPARE(r.w.windowTitle(), title);
    // Always opens empty, not with the current title.
    const QString empty = "QInputDialog::getText()|Window Name:|";
    QCOMPARE(opened, QStringList({empty, empty}));
}

QTEST_MAIN(TestMenus)
#include "test_menus.moc"
