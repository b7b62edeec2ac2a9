#pragma once

#include "remote/stagecontrol.h"

class MainWindow;
class QLabel;

// The control socket's view of the window: reads what the window shows and
// acts through the window's own command paths, so scripts and the operator
// see one truth. Adds a permanent label to the status bar that says what the
// scripts are doing.
class WindowStageControl_c : public StageControl_c
{
    Q_OBJECT

public:
    explicit WindowStageControl_c(MainWindow *window);

    StageSnapshot Snapshot() const override;
    StageLimits Limits() const override;
    double TravelEstimateSeconds(double from, double to) const override;

    void MoveTo(int position) override;
    void Run(bool backwards) override;
    void Home() override;
    void GoToReference() override;
    void Stop() override;
    void SetReference(int position) override;
    void SetSliders(int speed, int accel, int decel, int torque) override;

    void ShowRemoteActivity(const QString &text) override;

private:
    void ConnectionSeen(bool connected);

    MainWindow *window;
    QLabel *label;
    bool connected;
};
