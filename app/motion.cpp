// The operator's motion commands and the parameter sliders.

#include "app/mainwindow.h"

void MainWindow::SendPosition(int pos)
{
    Q_UNUSED(pos);
    // TODO
}

void MainWindow::StepPosition(double step)
{
    Q_UNUSED(step);
    // TODO
}

void MainWindow::on_posLineEdit_returnPressed()
{
    // TODO
}

void MainWindow::on_goButton_clicked()
{
    // TODO
}

void MainWindow::on_leftLeftStepButton_clicked()
{
    // TODO
}

void MainWindow::on_leftStepButton_clicked()
{
    // TODO
}

void MainWindow::on_rightStepButton_clicked()
{
    // TODO
}

void MainWindow::on_rightRightStepButton_clicked()
{
    // TODO
}

void MainWindow::on_PosSetButton_clicked()
{
    // TODO
}

void MainWindow::on_UnsetButton_clicked()
{
    // TODO
}

void MainWindow::on_RunButton_clicked()
{
    // TODO
}

void MainWindow::on_RefSetButton_clicked()
{
    // TODO
}

void MainWindow::on_RefLineEdit_returnPressed()
{
    // TODO
}

void MainWindow::on_GoToRefButton_clicked()
{
    // TODO
}

void MainWindow::on_HomingButton_clicked()
{
    // TODO
}

void MainWindow::on_SpeedSlider_valueChanged(int value)
{
    Q_UNUSED(value);
    // TODO
}

void MainWindow::on_AccelSlider_valueChanged(int value)
{
    Q_UNUSED(value);
    // TODO
}

void MainWindow::on_DecelSlider_valueChanged(int value)
{
    Q_UNUSED(value);
    // TODO
}

void MainWindow::on_TrqSlider_valueChanged(int value)
{
    Q_UNUSED(value);
    // TODO
}

void MainWindow::UiControlToUc(int value)
{
    Q_UNUSED(value);
    // TODO
}

