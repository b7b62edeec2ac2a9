// movexa-panel-trial PATH: the real panel window, with PATH (e.g. the link
// made by "movexa-stage-sim --link PATH") listed as the controller's port.
// The system's port list never shows pseudo-terminals, so this is how the
// panel meets the simulator on a desktop without a pair of USB converters.

#include "app/mainwindow.h"
#include "link/portlist.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: movexa-panel-trial PATH\n";
        return 2;
    }
    PortEntry e;
    // The link itself is the port, not its target: after a replug the
    // simulator points it at the new pseudo-terminal, and ticking Connected
    // again reaches it.
    const QString path = QString::fromLocal8Bit(argv[1]);
    e.name = QFileInfo(path).absoluteFilePath();
    e.description = "virtual stage controller";
    e.manufacturer = "movexa-stage-sim";
    e.systemLocation = e.name;
    e.vendorId = 0x0403;
    e.productId = 0x6015;
    SetPortListProvider([e] { return QList<PortEntry>{e}; });
    QApplication::setWindowIcon(QIcon("./motor.png"));
    MainWindow window;
    window.show();
    return app.exec();
}
