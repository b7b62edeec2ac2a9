// Construction, wiring and destruction of the window.

#include "app/mainwindow.h"

#include "link/paramtable.h"
#include "link/parser.h"
#include "link/serial.h"
#include "settings/appsettings.h"

#include <QDoubleValidator>
#include <QLocale>
#include <QTimer>

namespace {

QDoubleValidator *MakeValidator(QObject *parent, double bottom, double top, int decimals)
{
    auto *validator = new QDoubleValidator(bottom, top, decimals, parent);
    validator->setNotation(QDoubleValidator::StandardNotation);
    QLocale c(QLocale::C, QLocale::AnyCountry);
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    validator->setLocale(c);
    return validator;
}

}  // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    ui = new MainWindowUi;
    ui->setupUi(this);  // ends by connecting the on_... slots by name

    setWindowTitle("Movexa");
    version = "1.10";
    // The compact layout below would leave the step field too narrow for the
    // positions it accepts: room for the longest, "-1000.000", and a margin.
    QLineEdit *stepField = ui->posLineEdit;
    stepField->setMinimumWidth(stepField->fontMetrics().horizontalAdvance("-1000.000") + 16);
    centralWidget()->adjustSize();
    adjustSize();

    settings = new AppSettings_c(this);

    QDoubleValidator *positionValidator = MakeValidator(this, -1000.0, 1000.0, 3);
    QDoubleValidator *speedValidator = MakeValidator(this, 0.01, 100.0, 3);
    QDoubleValidator *timeValidator = MakeValidator(this, 0.0, 3600.0, 2);
    for (QLineEdit *edit : {ui->posLineEdit, ui->RefLineEdit, ui->PosALineEdit, ui->PosBLineEdit,
                            ui->PosCLineEdit, ui->PosDLineEdit})
        edit->setValidator(positionValidator);
    for (QLineEdit *edit : {ui->VelALineEdit, ui->VelBLineEdit, ui->VelCLineEdit, ui->VelDLineEdit})
        edit->setValidator(speedValidator);
    for (QLineEdit *edit :
         {ui->TimeALineEdit, ui->TimeBLineEdit, ui->TimeCLineEdit, ui->TimeDLineEdit})
        edit->setValidator(timeValidator);

    params = new ParamTable_c;
    params->AddEntry("pos", 0, nullptr, nullptr, 0, false, "Motor position");
    params->AddEntry("refPos", 0, nullptr, nullptr, 0, false, "Reference position");
    params->AddEntry("status", 0, nullptr, nullptr, 0, false, "Status");
    params->AddEntry("home", 0, nullptr, nullptr, 0, false, "Home");
    params->AddEntry("run", 0, nullptr, nullptr, 0, false, "Run");
    params->AddEntry("type", 0, nullptr, nullptr, 0, false, "Stage type");
    params->AddEntry("sn", 0, nullptr, nullptr, 0, false, "Serial number");
    params->AddEntry("fw", 0, nullptr, nullptr, 0, false, "Firmware version");
    // Each slider's by-name label slot was connected by setupUi, so the label
    // changes before UiControlToUc stores and sends the value.
    params->AddEntry("speed", 400, ui->SpeedSlider, nullptr, 0, false, "Motor speed");
    connect(ui->SpeedSlider, &QSlider::valueChanged, this, &MainWindow::UiControlToUc);
    params->AddEntry("accel", 8000, ui->AccelSlider, nullptr, 0, false, "Acceleration");
    connect(ui->AccelSlider, &QSlider::valueChanged, this, &MainWindow::UiControlToUc);
    params->AddEntry("decel", 8000, ui->DecelSlider, nullptr, 0, false, "Deceleration");
    connect(ui->DecelSlider, &QSlider::valueChanged, this, &MainWindow::UiControlToUc);
    params->AddEntry("holdTorque", 20, ui->TrqSlider, ui->TrqLabel, 0, false, "Idle torque");
    connect(ui->TrqSlider, &QSlider::valueChanged, this, &MainWindow::UiControlToUc);

    serial = new Serial_c(this, "6015");
    parser = new Parser_c(params, this);
    pollTimer = new QTimer(this);
    loopTimer = new QTimer(this);
    // Station dwell times are what operators rely on; a coarse timer may be
    // off by 5 % of the interval.
    loopTimer->setTimerType(Qt::PreciseTimer);

    connect(serial, &Serial_c::LineReceived, parser, &Parser_c::Parse);
    connect(serial, &Serial_c::ConnectionChanged, this, &MainWindow::NewConnection);
    connect(pollTimer, &QTimer::timeout, this, &MainWindow::SendRequests);
    connect(loopTimer, &QTimer::timeout, this, &MainWindow::LoopTimerFct);

    if (serial->CheckPid()) {
        serial->OpenPort(true);
        on_updatePorts_Button_clicked();
    }

    pollTimer->start(200);

    loopStopped = 1;
    isRunning = 0;
    SetStageType(0);
    ui->LoopCountSlider->setValue(3);
    posOffset = 0.0;
    smallStep = 0.001;
    largeStep = 0.02;
    ShowStatus(4);
}

MainWindow::~MainWindow()
{
    delete ui;
    // The table is a plain object owned by the window alone.
    delete params;
}
