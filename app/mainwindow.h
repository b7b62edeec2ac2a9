#pragma once

#include <QMainWindow>
#include <QString>

#include "ui_mainwindow.h"

class QTimer;
class Serial_c;
class Parser_c;
class ParamTable_c;
class AppSettings_c;

// The form record: one pointer per named object of mainwindow.ui.
class MainWindowUi : public Ui::MainWindow
{
};

// The panel's one window. Its slots are spread over files by concern:
// mainwindow.cpp (construction and wiring), connection.cpp, statusdisplay.cpp,
// motion.cpp, loopsequencer.cpp and menuactions.cpp.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    // After each poll has redrawn the read-outs and sent its queries.
    void Polled();
    // The operator used a motion control: Go, a step, Run, Homing, Go to
    // reference or Start loop. Never emitted for commands from scripts.
    void OperatorMotion();
    void LoopStateChanged(bool running);

public slots:
    void UpdateUi();
    void UpdateUiAfterConnect();
    void SendRequests();
    void LoopTimerFct();
    void StopLoop();
    void NewConnection(bool connected);
    void SetConCheckBox();

private slots:
    void UiControlToUc(int value);
    void on_RefSetButton_clicked();
    void on_PosSetButton_clicked();
    void on_GoToRefButton_clicked();
    void on_HomingButton_clicked();
    void on_LoopButton_clicked();
    void on_SpeedSlider_valueChanged(int value);
    void on_AccelSlider_valueChanged(int value);
    void on_DecelSlider_valueChanged(int value);
    void on_TrqSlider_valueChanged(int value);
    void on_LoopCountSlider_valueChanged(int value);
    void on_RunButton_clicked();
    void on_posLineEdit_returnPressed();
    void on_RefLineEdit_returnPressed();
    void on_updatePorts_Button_clicked();
    void on_connected_cBox_clicked(bool checked);
    void on_leftLeftStepButton_clicked();
    void on_leftStepButton_clicked();
    void on_rightStepButton_clicked();
    void on_rightRightStepButton_clicked();
    void on_UnsetButton_clicked();
    void on_actionSave_Settings_triggered();
    void on_actionLoad_Settings_triggered();
    void on_actionAbout_triggered();
    void on_goButton_clicked();
    void on_actionName_Window_triggered();

private:
    friend class MainWindowProbe;  // read access for the tests
    friend class WindowStageControl_c;  // the control socket's way in

    void ShowStatus(int status);
    void SetStageType(int type);
    void UpdateUnitLabels();
    void SendPosition(int pos);
    void StepPosition(double step);
    // Bodies shared by the operator's controls and the control socket.
    void WriteAbsolutePosition(int position);
    void StartRun(bool backwards);
    void Home();
    void GoToReference();
    void SetReference(int refPos, const QString &shown);
    void StopRunAndLoop();

    MainWindowUi *ui = nullptr;
    Serial_c *serial = nullptr;
    Parser_c *parser = nullptr;
    ParamTable_c *params = nullptr;
    AppSettings_c *settings = nullptr;
    QTimer *pollTimer = nullptr;
    QTimer *loopTimer = nullptr;
    QString version;
    QString unitText;

    int stageType = 0;
    bool stageIdentified = false;  // type and identity read since the port opened
    int isRunning = 0;
    double posOffset = 0.0;
    double smallStep = 0.001;
    double largeStep = 0.02;
    int maxSpeedByType[3] = {8000, 2500, 4000};
    int maxAccelByType[3] = {40000, 13000, 20000};

    // Loop sequencer; captured when a run starts.
    int loopStopped = 1;
    int loopIndex = 0;
    int loopEnd = 0;
    int stationPos[4] = {};
    int stationSpeed[4] = {};
    int stationWait[4] = {};
    bool stationUsed[4] = {};
    int loopAccel = 0;
    int loopDecel = 0;
    int loopTarget = 0;
    int loopPrevTarget = 0;
    int savedSpeed = 0;
};
