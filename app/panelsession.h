#pragma once

#include "app/commandline.h"
#include "link/portlist.h"

#include <memory>

class MainWindow;
class VirtualStage_c;

// The panel as main() starts it for the given options: the virtual stage
// controller, or a port given on the command line, listed first with the
// controller's USB product id, so the window's start-up discovery opens it
// as it would a real controller; then the window. Destruction closes the
// window, then ends the virtual controller, then restores the port list.
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
private:
    bool listed = false;
    PortListProvider previous;
    std::unique_ptr<VirtualStage_c> stage;
    std::unique_ptr<MainWindow> window;
};
