// The operator's motion commands and the parameter sliders.

#include "app/mainwindow.h"

#include "app/stagemath.h"
#include "link/numeric.h"
#include "link/paramtable.h"
#include "link/serial.h"

#include <QTimer>

void MainWindow::SendPosition(int pos)
{
    // pos is in thousandths relative to the operator's zero.
    WriteAbsolutePosition(OffsetPosition(pos, posOffset));
}

void MainWindow::WriteAbsolutePosition(int position)
{
    serial->WriteLn("!pos_" + QString::number(position));
}

void MainWindow::StepPosition(double step)
{
    emit OperatorMotion();
    const double target = ui->posLineEdit->text().toDouble() + step;
    // Steps round where a typed move truncates: 0.9995 + 0.001 has to reach
    // 1001, not stop at 1000.
    SendPosition(ToControllerUnitsRound(target));
    // Shown back so that repeated presses accumulate.
    ui->posLineEdit->setText(QString::number(target, 'g', 6));
}

void MainWindow::on_posLineEdit_returnPressed()
{
    emit OperatorMotion();
    SendPosition(ToControllerUnitsTrunc(ui->posLineEdit->text().toDouble()));
}

void MainWindow::on_goButton_clicked()
{
    on_posLineEdit_returnPressed();
}

void MainWindow::on_leftLeftStepButton_clicked()
{
    StepPosition(-largeStep);
}

void MainWindow::on_leftStepButton_clicked()
{
    StepPosition(-smallStep);
}

void MainWindow::on_rightStepButton_clicked()
{
    StepPosition(smallStep);
}

void MainWindow::on_rightRightStepButton_clicked()
{
    StepPosition(largeStep);
}

void MainWindow::on_PosSetButton_clicked()
{
    // The current position becomes the line edit's zero.
    posOffset = ToDisplayUnits(params->ValueOf("pos"));
    ui->Offset_Label->setText("Offset: " + QString::number(posOffset, 'g', 6));
    ui->posLineEdit->setText(QString::number(0.0, 'g', 6));
}

void MainWindow::on_UnsetButton_clicked()
{
    posOffset = 0.0;
    ui->Offset_Label->setText("Offset: " + QString::number(posOffset, 'g', 6));
    ui->posLineEdit->setText(QString::number(ToDisplayUnits(params->ValueOf("pos")), 'g', 6));
}

void MainWindow::on_RunButton_clicked()
{
    emit OperatorMotion();
    if (isRunning == 1)
        serial->WriteLn("!run_0");
    else
        StartRun(ui->backwards_cBox->isChecked());
}

void MainWindow::StartRun(bool backwards)
{
    serial->WriteLn(backwards ? "!run_1" : "!run_-1");
}

void MainWindow::StopRunAndLoop()
{
    serial->WriteLn("!run_0");
    if (loopStopped == 0) {  // as the Loop button ends a run
        loopStopped = 1;
        StopLoop();
        loopTimer->stop();
    }
}

void MainWindow::on_RefSetButton_clicked()
{
    const QString typed = ui->RefLineEdit->text();
    SetReference(ToControllerUnitsTrunc(typed.toDouble()), typed);
}

void MainWindow::SetReference(int refPos, const QString &shown)
{
    const int row = params->IndexOf("refPos");
    params->SetValue(row, static_cast<double>(refPos));
    params->SendEntry(row, serial);
    ui->RefLabel->setText("Current value: " + shown);
}

void MainWindow::on_RefLineEdit_returnPressed()
{
    on_RefSetButton_clicked();
}

void MainWindow::on_GoToRefButton_clicked()
{
    emit OperatorMotion();
    GoToReference();
}

void MainWindow::GoToReference()
{
    serial->WriteLn("!gotoRef_1");
    // Absolute, like the stored reference: the offset is not subtracted.
    ui->posLineEdit->setText(QString::number(ToDisplayUnits(params->ValueOf("refPos")), 'g', 6));
}

void MainWindow::on_HomingButton_clicked()
{
    emit OperatorMotion();
    Home();
}

void MainWindow::Home()
{
    serial->WriteLn("!home_1");
    // Homing moves the stage to its zero, so the operator's zero is void.
    on_UnsetButton_clicked();
    ui->posLineEdit->setText(QString::number(0.0, 'g', 6));
}

void MainWindow::on_SpeedSlider_valueChanged(int value)
{
    // Thousandths per second shown in display units.
    ui->VelLabel->setText(QString::number(value * 0.001, 'f', 1));
}

void MainWindow::on_AccelSlider_valueChanged(int value)
{
    ui->AccelLabel->setText(QString::number(value * 0.001, 'f', 1));
    // Deceleration follows acceleration; its command goes out first because
    // this runs before UiControlToUc for the acceleration slider.
    ui->DecelSlider->setValue(value);
}

void MainWindow::on_DecelSlider_valueChanged(int value)
{
    ui->DecelLabel->setText(QString::number(value * 0.001, 'f', 1));
}

void MainWindow::on_TrqSlider_valueChanged(int value)
{
    ui->TrqLabel->setText(QString::number(value));
}

void MainWindow::UiControlToUc(int value)
{
    auto *control = qobject_cast<QWidget *>(sender());
    if (!control)
        return;
    const int row = params->IndexOfControl(control);
    if (row < 0)
        return;  // only the four bound sliders are connected here
    params->SetFromControl(row, value);
    // Dropped by the link while muted: the table still takes the value.
    serial->WriteLn(params->FormatEntry(row));
}
