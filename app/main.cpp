#include "app/commandline.h"
#include "app/mainwindow.h"
#include "app/panelsession.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    // Scale by the screen's pixel ratio; Qt reads both only before the application exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Read before QApplication, which aborts where there is no display.
    const CommandLine options = ParseCommandLine(ArgumentsOf(argc, argv));
    if (options.action != CommandLine::Action::RunPanel) {
        QCoreApplication core(argc, argv);
        return RunWithoutWindow(options);
    }
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon("./motor.png"));
    PanelSession_c session(options);
    session.Window().show();
    return app.exec();
}
