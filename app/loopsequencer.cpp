// The timed A to D station sequence.

#include "app/mainwindow.h"

void MainWindow::on_LoopButton_clicked()
{
    // TODO
}

void MainWindow::LoopTimerFct()
{
    // TODO
}

void MainWindow::StopLoop()
{
    // TODO
}

void MainWindow::on_LoopCountSlider_valueChanged(int value)
{
    Q_UNUSED(value);
    // TODO
}

