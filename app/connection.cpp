// Connection control: the port list, the connected box and the reaction to
// the link's connection changes.

#include "app/mainwindow.h"

void MainWindow::on_updatePorts_Button_clicked()
{
    // TODO
}

void MainWindow::on_connected_cBox_clicked(bool checked)
{
    Q_UNUSED(checked);
    // TODO
}

void MainWindow::NewConnection(bool connected)
{
    Q_UNUSED(connected);
    // TODO
}

void MainWindow::SetConCheckBox()
{
    // TODO
}

