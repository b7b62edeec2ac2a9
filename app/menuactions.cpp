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
    s.posA = EditValue(ui->PosALineEdit);
    s.speedA = EditValue(ui->VelALineEdit);
    s.timeA = EditValue(ui->TimeALineEdit);
    s.useA = int(ui->useA_cBox->checkState());
    s.posB = EditValue(ui->PosBLineEdit);
    s.speedB = EditValue(ui->VelBLineEdit);
    s.timeB = EditValue(ui->TimeBLineEdit);
    s.useB = int(ui->useB_cBox->checkState());
    s.posC = EditValue(ui->PosCLineEdit);
    s.speedC = EditValue(ui->VelCLineEdit);
    s.timeC = EditValue(ui->TimeCLineEdit);
    s.useC = int(ui->useC_cBox->checkState());
    s.posD = EditValue(ui->PosDLineEdit);
    s.speedD = EditValue(ui->VelDLineEdit);
    s.timeD = EditValue(ui->TimeDLineEdit);
    s.useD = int(ui->useD_cBox->checkState());
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

    const struct
    {
        QLineEdit *pos, *speed, *time;
        QCheckBox *use;
        double posV, speedV, timeV, useV;
    } stations[] = {
        {ui->PosALineEdit, ui->VelALineEdit, ui->TimeALineEdit, ui->useA_cBox, s.posA, s.speedA, s.timeA, s.useA},
        {ui->PosBLineEdit, ui->VelBLineEdit, ui->TimeBLineEdit, ui->useB_cBox, s.posB, s.speedB, s.timeB, s.useB},
        {ui->PosCLineEdit, ui->VelCLineEdit, ui->TimeCLineEdit, ui->useC_cBox, s.posC, s.speedC, s.timeC, s.useC},
        {ui->PosDLineEdit, ui->VelDLineEdit, ui->TimeDLineEdit, ui->useD_cBox, s.posD, s.speedD, s.timeD, s.useD},
    };
    for (const auto &st : stations) {
        st.pos->setText(Number(st.posV));
        st.speed->setText(Number(st.speedV));
        st.time->setText(Number(st.timeV));
        st.use->setChecked(st.useV >= 0.5);
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
