// Polling and the status, position and stage-identity read-outs.

#include "app/mainwindow.h"

#include "app/stagemath.h"
#include "link/numeric.h"
#include "link/paramtable.h"
#include "link/serial.h"

#include <QVector>

namespace {
// Setting a style sheet repolishes the widget even when nothing changed;
// five times a second that is most of the panel's idle CPU.
void SetStyleSheetIfChanged(QWidget *widget, const QString &sheet)
{
    if (widget->styleSheet() != sheet)
        widget->setStyleSheet(sheet);
}
}  // namespace

void MainWindow::SendRequests()
{
    if (!serial->IsOpen())
        return;
    // Replies to these queries land in the table and are drawn at the next
    // tick, so the read-outs always lag one poll behind.
    UpdateUi();
    serial->WriteLn("?status");
    serial->WriteLn("?pos");
    serial->WriteLn("?refPos");
    emit Polled();
}

void MainWindow::UpdateUi()
{
    const int status = SaturateToInt(params->ValueOf("status"));
    ShowStatus(status);
    SetStyleSheetIfChanged(ui->AbsolutePos_Label, DecodeStatus(status).error
                                                      ? "QLabel {  color : red; }"
                                                      : "QLabel {  color : black; }");
    // The operator's offset is deliberately not applied here.
    ui->AbsolutePos_Label->setText("Absolute position: "
        + QString::number(ToDisplayUnits(params->ValueOf("pos")), 'g', 6));
}

void MainWindow::ShowStatus(int status)
{
    const StageStatus s = DecodeStatus(status);
    QString message;
    // The bar's sheet is decided first and applied once, at the end.
    QString barSheet = "QLabel {  color : black; }";

    if (s.moving) {
        ui->IdleRadioButton->setChecked(false);
        ui->MovingRadioButton->setChecked(true);
        ui->ErrorRadioButton->setChecked(false);
        ui->RunButton->setText("Stop");
        isRunning = 1;
    } else {
        ui->IdleRadioButton->setChecked(true);
        ui->RunButton->setText("Run");
        isRunning = 0;
    }
    if (s.error) {
        ui->IdleRadioButton->setChecked(false);
        ui->MovingRadioButton->setChecked(false);
        ui->ErrorRadioButton->setChecked(true);
    }
    if (s.notHomed) {
        message += "Stage not homed.   ";
        barSheet = "color: black";
    }
    if (s.hardwareError) {
        message += "Hardware error.";
        barSheet = "color: red";
    }
    SetStyleSheetIfChanged(ui->statusbar, barSheet);
    ui->statusbar->showMessage(message);
}

void MainWindow::UpdateUiAfterConnect()
{
    // The sliders' change handlers write to the link; the values being loaded
    // came from the controller, so echoing them back is suppressed.
    // Each row is pushed with the value the controller reported: moving the
    // acceleration slider drags the deceleration slider along and would
    // otherwise overwrite the reported deceleration before it is shown.
    QVector<double> reported(params->Count());
    for (int i = 0; i < params->Count(); ++i)
        reported[i] = params->Entry(i).value;
    serial->Mute();
    for (int i = 0; i < params->Count(); ++i) {
        params->SetValue(i, reported[i]);
        params->PushToControl(i);
    }
    serial->Unmute();

    ui->posLineEdit->setText(QString::number(ToDisplayUnits(params->ValueOf("pos")), 'g', 6));
    ui->RefLabel->setText("Current value: "
                          + QString::number(ToDisplayUnits(params->ValueOf("refPos")), 'g', 6));
    SetStageType(SaturateToInt(params->ValueOf("type")));
    stageIdentified = serial->IsOpen();
    ui->snLabel->setText("SN: " + QString::number(SaturateToInt(params->ValueOf("sn"))));

    // After Unmute on purpose: a slider pulled down to its new maximum must
    // tell the controller its new value. An unknown type has no limits of
    // its own, so the sliders keep theirs.
    if (IsKnownStageType(stageType)) {
        ui->SpeedSlider->setMaximum(maxSpeedByType[stageType]);
        ui->AccelSlider->setMaximum(maxAccelByType[stageType]);
        ui->DecelSlider->setMaximum(maxAccelByType[stageType]);
    }
}

void MainWindow::SetStageType(int type)
{
    stageType = type;
    // Continuous running exists only on rotation stages.
    const bool rotation = type == 1;
    ui->RunButton->setEnabled(rotation);
    ui->backwards_cBox->setEnabled(rotation);

    switch (type) {
    case 0:
        unitText = "mm";
        ui->typeLabel->setText("Type: Linear");
        break;
    case 1:
        unitText = "rad";
        ui->typeLabel->setText("Type: Rotation");
        break;
    case 2:
        unitText = "mm";
        ui->typeLabel->setText("Type: Lifting");
        break;
    default:
        unitText.clear();
        break;
    }
    UpdateUnitLabels();
}

void MainWindow::UpdateUnitLabels()
{
    const QString &u = unitText;
    ui->RefGroupBox->setTitle("Absolute Reference Position (" + u + ")");
    ui->PosGroupBox->setTitle("Position (" + u + ")");
    ui->SpeedLabel->setText("max.Speed (" + u + "/s)");
    ui->AccelLabel_2->setText("Accel (" + u + "/s^2)");
    ui->DecelLabel_2->setText("Decel (" + u + "/s^2)");
    ui->PLabel->setText("Position (" + u + ")");
    ui->SLabel->setText("Speed (" + u + "/s)");
}
