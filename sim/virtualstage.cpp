#include "sim/virtualstage.h"

#include "sim/ptymaster.h"
#include "sim/stagesimulator.h"

VirtualStage_c::VirtualStage_c(const StageConfig &config)
{
    thread.setObjectName("virtual stage");
    home = new QObject;
    home->moveToThread(&thread);
    // Deleted on its own thread as the thread ends: the port's notifiers and
    // the simulator's timer belong to that thread's event loop.
    QObject::connect(&thread, &QThread::finished, home, &QObject::deleteLater);
    thread.start();
    // The port must exist before the panel looks for it; this waits for the
    // new thread to open it, a matter of milliseconds at start-up.
    QMetaObject::invokeMethod(
        home,
        [this, config] {
            pty = new PtyMaster(home);
            if (!pty->Open()) {
                error = pty->ErrorString();
                return;
            }
            slavePath = pty->SlavePath();
            simulator = new StageSimulator_c(pty, config, home);
        },
        Qt::BlockingQueuedConnection);
    if (!simulator) {
        thread.quit();
        thread.wait();
    }
}

VirtualStage_c::~VirtualStage_c()
{
    thread.quit();
    thread.wait();  // the port and the simulator are gone once this returns
}
