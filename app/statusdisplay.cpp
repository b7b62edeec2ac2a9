// Polling and the status, position and stage-identity read-outs.

#include "app/mainwindow.h"

void MainWindow::SendRequests()
{
    // TODO
}

void MainWindow::UpdateUi()
{
    // TODO
}

void MainWindow::ShowStatus(int status)
{
    Q_UNUSED(status);
    // TODO
}

void MainWindow::UpdateUiAfterConnect()
{
    // TODO
}

void MainWindow::SetStageType(int type)
{
    Q_UNUSED(type);
    // TODO
}

void MainWindow::UpdateUnitLabels()
{
    // TODO
}

