#include "app/commandline.h"
#include "app/mainwindow.h"
#include "app/panelsession.h"
#include "app/unixsignals.h"
#include "app/windowicon.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Scale by the screen's pixel ratio; Qt reads both only before the application exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Read before QApplication, which aborts where there is no display.
    const CommandLine options = CheckDisplay(ParseCommandLine(ArgumentsOf(argc, argv)),
                                             QProcessEnvironment::systemEnvironment());
    if (options.action != CommandLine::Action::RunPanel || options.checkOnly) {
        QCoreApplication core(argc, argv);
        return RunWithoutWindow(options);
    }
    QApplication app(argc, argv);
    QApplication::setWindowIcon(WindowIcon());
    UnixSignals_c unixSignals;  // ends the panel as closing its window does
    QObject::connect(&unixSignals, &UnixSignals_c::Received, &app, &QCoreApplication::quit);
    PanelSession_c session(options);
    session.Window().show();
    return app.exec();
}
