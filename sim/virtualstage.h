#pragma once

#include "sim/stagemodel.h"

#include <QString>
#include <QThread>

class PtyMaster;
class StageSimulator_c;

// The virtual stage controller inside the panel's process: a pseudo-terminal
// and a StageSimulator_c on a thread of their own, so a busy window neither
// stops the stage's motion clock nor holds back its replies. The panel opens
// the slave end like any serial port. Destruction ends the thread and closes
// the pseudo-terminal.
class VirtualStage_c
{
public:
    // Starts the controller; waits only for its pseudo-terminal to be set up.
    explicit VirtualStage_c(const StageConfig &config);
    ~VirtualStage_c();
    VirtualStage_c(const VirtualStage_c &) = delete;
    VirtualStage_c &operator=(const VirtualStage_c &) = delete;

    bool IsRunning() const { return simulator != nullptr; }
    // The port for the panel, e.g. /dev/pts/3; empty when it did not start.
    QString SlavePath() const { return slavePath; }
    // Why it did not start.
    QString ErrorString() const { return error; }

    QThread *Thread() { return &thread; }
    // Lives on Thread(): connect to its signals, never call it from elsewhere.
    StageSimulator_c *Simulator() { return simulator; }

private:
    QThread thread;
    QObject *home = nullptr;  // lives on the thread; parent of the port and the simulator
    PtyMaster *pty = nullptr;
    StageSimulator_c *simulator = nullptr;
    QString slavePath;
    QString error;
};
