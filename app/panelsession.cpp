#include "app/panelsession.h"

#include "app/mainwindow.h"
#include "app/windowstagecontrol.h"
#include "remote/remoteserver.h"

#ifdef MOVEXA_VIRTUAL_STAGE
#include "sim/virtualstage.h"
#endif

#include <QDebug>
#include <QFileInfo>

namespace {

// Why the panel starts otherwise than asked, on standard error.
void Note(const QString &line)
{
    qWarning().noquote() << "movexa:" << line;
}

// An entry that start-up discovery takes for the controller's converter.
PortEntry ControllerPort(const QString &path, const QString &description)
{
    PortEntry e;
    // Named as QSerialPort names an opened port ("pts/3" for /dev/pts/3), so
    // a refresh of the list while connected selects it again.
    e.name = path.startsWith("/dev/") ? path.mid(5) : path;
    e.description = description;
    e.systemLocation = path;
    e.productId = 0x6015;
    return e;
}

}  // namespace

PanelSession_c::PanelSession_c(const CommandLine &options)
{
    PortEntry controller;
    if (options.virtualStage) {
#ifdef MOVEXA_VIRTUAL_STAGE
        StageConfig config;
        config.type = options.stageType;
        config.serialNumber = options.serialNumber;
        stage = std::make_unique<VirtualStage_c>(config);
        if (stage->IsRunning()) {
            controller = ControllerPort(stage->SlavePath(), "virtual stage controller");
        } else {
            Note("the virtual stage controller cannot start (" + stage->ErrorString()
                 + "); starting the panel without it.");
            stage.reset();
        }
#else
        Note("the virtual stage controller needs pseudo-terminals, which this system lacks; "
             "starting the panel without it.");
#endif
    } else if (!options.controllerPort.isEmpty()) {
        const QFileInfo port(options.controllerPort);
        if (port.exists())
            controller = ControllerPort(port.absoluteFilePath(), "controller port (command line)");
        else
            Note(options.controllerPort + " does not exist; starting the panel unconnected.");
    }

    if (!controller.name.isEmpty()) {
        listed = true;
        previous = SetPortListProvider(PortListProvider());
        // The controller first, so discovery picks it even with a real one
        // attached; then what the list held before, the system's ports.
        SetPortListProvider([controller, rest = previous] {
            return QList<PortEntry>{controller} + (rest ? rest() : SystemPorts());
        });
        window = std::make_unique<MainWindow>();
    } else if (!options.controllerPort.isEmpty()) {
        // As with no controller attached: discovery finds nothing, and the
        // operator's refresh lists the system's ports.
        const PortListProvider rest = SetPortListProvider([] { return QList<PortEntry>(); });
        window = std::make_unique<MainWindow>();
        SetPortListProvider(rest);
    } else {
        window = std::make_unique<MainWindow>();
    }
    if (stage)
        window->setWindowTitle("Movexa (virtual stage)");

    if (options.remoteControl) {
        control = std::make_unique<WindowStageControl_c>(window.get());
        remote = std::make_unique<RemoteServer_c>(control.get());
        const bool ownPath = options.controlSocket.isEmpty();
        const QString path = ownPath ? DefaultControlSocketPath() : options.controlSocket;
        if (!remote->Listen(path, ownPath)) {
            Note(remote->ErrorString() + "; running without remote control.");
            remote.reset();
        }
    }
}

PanelSession_c::~PanelSession_c()
{
    remote.reset();  // scripts see the end of the stream while the window still stands
    control.reset();
    window.reset();  // closes the port before its controller goes
    stage.reset();
    if (listed)
        SetPortListProvider(previous);
}
