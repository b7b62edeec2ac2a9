// The File and Help menu actions: settings file, window name, About box.

#include "app/mainwindow.h"

void MainWindow::on_actionSave_Settings_triggered()
{
    // TODO
}

void MainWindow::on_actionLoad_Settings_triggered()
{
    // TODO
}

void MainWindow::on_actionAbout_triggered()
{
    // TODO
}

void MainWindow::on_actionName_Window_triggered()
{
    // TODO
}

