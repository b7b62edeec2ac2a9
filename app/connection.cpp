// Connection control: the port list, the connected box and the reaction to
// the link's connection changes.

#include "app/mainwindow.h"

#include "link/paramtable.h"
#include "link/portlist.h"
#include "link/serial.h"

#include <QDebug>
#include <QSignalBlocker>
#include <QStringList>
#include <QTimer>

void MainWindow::on_updatePorts_Button_clicked()
{
    ui->serialPort_cBox->clear();
    for (const PortEntry &port : AvailablePorts()) {
        const QStringList info{port.name,
                               port.description,
                               port.manufacturer,
                               port.systemLocation,
                               UsbIdText(port.vendorId),
                               UsbIdText(port.productId)};
        qDebug() << info;
        ui->serialPort_cBox->addItem(port.name, info);
    }
    // Refreshing must not look like a change of port: while connected, point
    // at the open port again, or at nothing if it is no longer listed.
    if (serial->IsOpen())
        ui->serialPort_cBox->setCurrentIndex(
            ui->serialPort_cBox->findText(serial->PortName(),
                                          Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void MainWindow::on_connected_cBox_clicked(bool checked)
{
    const QSignalBlocker blocker(ui->connected_cBox);
    if (checked) {
        const int index = ui->serialPort_cBox->currentIndex();
        if (index < 0) {
            ui->connected_cBox->setChecked(false);
            return;
        }
        serial->SetPortName(ui->serialPort_cBox->itemText(index));
        // Success and failure both come back through ConnectionChanged.
        serial->OpenPort(true);
    } else {
        serial->OpenPort(false);
    }
}

void MainWindow::NewConnection(bool connected)
{
    stageIdentified = false;
    if (connected) {
        params->RequestAll(serial);
        // Give the controller time to answer the bulk query before the
        // sliders and identity labels are loaded from the table.
        QTimer::singleShot(500, this, SLOT(UpdateUiAfterConnect()));
    }
    QTimer::singleShot(100, this, SLOT(SetConCheckBox()));
}

void MainWindow::SetConCheckBox()
{
    const QSignalBlocker blocker(ui->connected_cBox);
    ui->connected_cBox->setChecked(serial->IsOpen());
}
