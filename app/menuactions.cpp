// The File and Help menu actions: settings file, window name, About box.

#include "app/mainwindow.h"

#include "app/dialogs.h"
#include "link/numeric.h"
#include "link/paramtable.h"
#include "settings/appsettings.h"

#include <QDir>
#include <QInputDialog>
#include <QMessageBox>

namespace {

// A station field the operator typed; anything that is not a usable number
// is stored as 0, as the sequencer reads it.
double EditValue(const QLineEdit *edit)
{
    bool ok = false;
    const double v = edit->text().toDouble(&ok);
    return ok && IsUsableNumber(v) ? v : 0.0;
}

QString Number(double v)
{
    return QString::number(v, 'g', 6);
}

// The four stations' widgets and their settings fields, A to D, in the order
// both menu actions handle them.
struct StationBinding
{
    QLineEdit *Ui_MainWindow::*pos;
    QLineEdit *Ui_MainWindow::*speed;
    QLineEdit *Ui_MainWindow::*time;
    QCheckBox *Ui_MainWindow::*use;
    double AppSettings_c::*posValue;
    double AppSettings_c::*speedValue;
    double AppSettings_c::*timeValue;
    double AppSettings_c::*useValue;
};

const StationBinding kStations[] = {
    {&Ui_MainWindow::PosALineEdit, &Ui_MainWindow::VelALineEdit, &Ui_MainWindow::TimeALineEdit,
     &Ui_MainWindow::useA_cBox, &AppSettings_c::posA, &AppSettings_c::speedA,
     &AppSettings_c::timeA, &AppSettings_c::useA},
    {&Ui_MainWindow::PosBLineEdit, &Ui_MainWindow::VelBLineEdit, &Ui_MainWindow::TimeBLineEdit,
     &Ui_MainWindow::useB_cBox, &AppSettings_c::posB, &AppSettings_c::speedB,
     &AppSettings_c::timeB, &AppSettings_c::useB},
    {&Ui_MainWindow::PosCLineEdit, &Ui_MainWindow::VelCLineEdit, &Ui_MainWindow::TimeCLineEdit,
     &Ui_MainWindow::useC_cBox, &AppSettings_c::posC, &AppSettings_c::speedC,
     &AppSettings_c::timeC, &AppSettings_c::useC},
    {&Ui_MainWindow::PosDLineEdit, &Ui_MainWindow::VelDLineEdit, &Ui_MainWindow::TimeDLineEdit,
     &Ui_MainWindow::useD_cBox, &AppSettings_c::posD, &AppSettings_c::speedD,
     &AppSettings_c::timeD, &AppSettings_c::useD},
};

}  // namespace

void MainWindow::on_actionSave_Settings_triggered()
{
    AppSettings_c &s = *settings;
    s.offset = posOffset;
    // The position the controller confirmed, not text still being typed.
    s.refPos = params->ValueOf("refPos") / 1000.0;
    s.maxSpeed = ui->SpeedSlider->value();
    s.accel = ui->AccelSlider->value();
    s.decel = ui->DecelSlider->value();
    s.holdTorque = ui->TrqSlider->value();
    for (const StationBinding &st : kStations) {
        s.*st.posValue = EditValue(ui->*st.pos);
        s.*st.speedValue = EditValue(ui->*st.speed);
        s.*st.timeValue = EditValue(ui->*st.time);
        s.*st.useValue = int((ui->*st.use)->checkState());
    }
    s.loopCount = ui->LoopCountSlider->value();
    s.runLoopCont = int(ui->LoopCheckBox->checkState());

    const QString fileName = AskSaveFileName(
        {this, tr("Save File"), QDir::homePath() + "/settings.txt", tr("TextFiles (*.txt)")});
    if (fileName.isEmpty())
        return;  // cancelled
    if (s.Save(fileName) != 0)
        ShowWarning(this, tr("Save Settings"),
                    tr("The settings could not be saved to %1:\n%2")
                        .arg(QDir::toNativeSeparators(fileName), s.LastError()));
}

void MainWindow::on_actionLoad_Settings_triggered()
{
    const QString fileName =
        AskOpenFileName({this, tr("Open File"), QDir::homePath(), tr("TextFiles (*.txt)")});
    // Cancelled or unreadable: the window and the controller keep what they
    // have rather than being reset to an older snapshot.
    if (fileName.isEmpty())
        return;
    AppSettings_c &s = *settings;
    if (s.Load(fileName) != 0) {
        ShowWarning(this, tr("Load Settings"),
                    tr("The settings could not be read from %1:\n%2")
                        .arg(QDir::toNativeSeparators(fileName), s.LastError()));
        return;
    }

    posOffset = s.offset;
    ui->Offset_Label->setText("Offset: " + Number(s.offset));
    ui->RefLineEdit->setText(Number(s.refPos));
    on_RefSetButton_clicked();

    // Widgets are set with their signals live, so changed sliders update
    // their labels and reach the controller. Accel drags Decel along, hence
    // Decel after Accel so that it ends at its own value.
    ui->SpeedSlider->setValue(SaturateToInt(s.maxSpeed));
    ui->AccelSlider->setValue(SaturateToInt(s.accel));
    ui->DecelSlider->setValue(SaturateToInt(s.decel));
    ui->TrqSlider->setValue(SaturateToInt(s.holdTorque));

    for (const StationBinding &st : kStations) {
        (ui->*st.pos)->setText(Number(s.*st.posValue));
        (ui->*st.speed)->setText(Number(s.*st.speedValue));
        (ui->*st.time)->setText(Number(s.*st.timeValue));
        (ui->*st.use)->setChecked(s.*st.useValue >= 0.5);
    }

    ui->LoopCountSlider->setValue(SaturateToInt(s.loopCount));
    ui->LoopCheckBox->setChecked(s.runLoopCont >= 0.5);
}

void MainWindow::on_actionAbout_triggered()
{
    // QString::arg(double) formats in the C locale (no 'L'), so the firmware
    // always shows a point, whatever the operator's locale.
    const QString text = "Software Version " + version + "\n"
        + QString("Firmware Version %1").arg(params->ValueOf("fw") * 0.01, 0, 'f', 2);
    QMessageBox::about(this, "Movexa", text);
}

void MainWindow::on_actionName_Window_triggered()
{
    bool ok = false;
    const QString text = QInputDialog::getText(this, "QInputDialog::getText()", "Window Name:",
                                               QLineEdit::Normal, QString(), &ok);
    if (ok && !text.isEmpty())
        setWindowTitle(text);
}
