// movexa-screenshot FILE: the panel on its virtual stage, as main() starts it,
// caught mid-loop. It ticks nothing but the loop button: the stage is
// connected, reports its type and serial number, and is on its way to
// station A when the window is grabbed. Used by scripts/screenshot.sh.

#include "app/mainwindow.h"
#include "app/panelsession.h"

#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: movexa-screenshot FILE.png\n";
        return 2;
    }
    QApplication::setWindowIcon(QIcon("./motor.png"));
    CommandLine options;
    options.virtualStage = true;
    options.serialNumber = 4711;
    PanelSession_c session(options);
    MainWindow &window = session.Window();
    window.show();

    int result = 1;
    // The connection's set-up loads the sliders 0.5 s after the port opens.
    QTimer::singleShot(1000, [&] {
        if (!window.findChild<QCheckBox *>("connected_cBox")->isChecked()) {
            QTextStream(stderr) << "the panel did not connect to its virtual stage\n";
            app.quit();
            return;
        }
        window.findChild<QPushButton *>("LoopButton")->click();
        // Station A lies 4 mm away at 2 mm/s: halfway after a little over a
        // second, with at least one poll's read-out shown.
        QTimer::singleShot(1300, [&] {
            result = window.grab().save(args.at(1)) ? 0 : 1;
            app.quit();
        });
    });
    app.exec();
    return result;
}
