#pragma once

#include "app/commandline.h"
#include "link/portlist.h"

#include <memory>

class MainWindow;
class RemoteServer_c;
class VirtualStage_c;
class WindowStageControl_c;

// The panel as main() starts it for the given options: the virtual stage
// controller, or a port given on the command line, listed first with the
// controller's USB product id, so the window's start-up discovery opens it
// as it would a real controller; then the window, then the control socket
// for scripts. Destruction closes the socket (scripts see the end of the
// stream), then the window, then ends the virtual controller, then restores
// the port list.
class PanelSession_c
{
public:
    explicit PanelSession_c(const CommandLine &options);
    ~PanelSession_c();
    PanelSession_c(const PanelSession_c &) = delete;
    PanelSession_c &operator=(const PanelSession_c &) = delete;

    MainWindow &Window() { return *window; }
    // The running virtual controller; null when not asked for or not started.
    VirtualStage_c *Stage() { return stage.get(); }
    // The control socket; null when turned off or when it cannot listen.
    RemoteServer_c *Remote() { return remote.get(); }

private:
    bool listed = false;
    PortListProvider previous;
    std::unique_ptr<VirtualStage_c> stage;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<WindowStageControl_c> control;
    std::unique_ptr<RemoteServer_c> remote;
};
