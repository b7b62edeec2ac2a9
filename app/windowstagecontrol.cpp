#include "app/windowstagecontrol.h"

#include "app/mainwindow.h"
#include "app/stagemath.h"
#include "link/numeric.h"
#include "link/paramtable.h"
#include "link/serial.h"

#include <QDoubleValidator>
#include <QLabel>
#include <QStatusBar>

namespace {
Range SliderRange(const QSlider *slider, double scale)
{
    return {slider->minimum() * scale, slider->maximum() * scale};
}
}  // namespace

WindowStageControl_c::WindowStageControl_c(MainWindow *window)
    : StageControl_c(window)
    , window(window)
    , label(new QLabel(window))
    , connected(window->serial->IsOpen())
{
    label->setObjectName("remoteActivityLabel");
    label->hide();
    window->statusBar()->addPermanentWidget(label);
    connect(window, &MainWindow::Polled, this, &StageControl_c::Polled);
    connect(window, &MainWindow::OperatorMotion, this, &StageControl_c::OperatorMotion);
    connect(window, &MainWindow::LoopStateChanged, this, &StageControl_c::LoopStateChanged);
    connect(window->serial, &Serial_c::ConnectionChanged, this,
            &WindowStageControl_c::ConnectionSeen);
    // Clearing the box closes the port without a word from the link; this
    // runs after the box's own slot has done so.
    connect(window->ui->connected_cBox, &QCheckBox::clicked, this,
            [this] { ConnectionSeen(this->window->serial->IsOpen()); });
}

void WindowStageControl_c::ConnectionSeen(bool now)
{
    if (now == connected)
        return;
    connected = now;
    emit ConnectionChanged(now);
}

StageSnapshot WindowStageControl_c::Snapshot() const
{
    const MainWindow &w = *window;
    const ParamTable_c &p = *w.params;
    const StageStatus status = DecodeStatus(SaturateToInt(p.ValueOf("status")));
    StageSnapshot s;
    s.connected = w.serial->IsOpen();
    s.identified = s.connected && w.stageIdentified;
    s.stageType = s.identified && IsKnownStageType(w.stageType) ? w.stageType : -1;
    s.unit = w.unitText;
    s.serialNumber = SaturateToInt(p.ValueOf("sn"));
    s.firmware = p.ValueOf("fw") * 0.01;
    s.position = ToDisplayUnits(p.ValueOf("pos"));
    s.reference = ToDisplayUnits(p.ValueOf("refPos"));
    s.offset = w.posOffset;
    s.moving = status.moving;
    s.error = status.error;
    s.hardwareError = status.hardwareError;
    s.homed = !status.notHomed;
    s.speed = w.ui->SpeedSlider->value() * 0.001;
    s.accel = w.ui->AccelSlider->value() * 0.001;
    s.decel = w.ui->DecelSlider->value() * 0.001;
    s.torque = w.ui->TrqSlider->value();
    s.loopRunning = w.loopStopped == 0;
    return s;
}

StageLimits WindowStageControl_c::Limits() const
{
    const MainWindowUi &ui = *window->ui;
    StageLimits l;
    // Where the operator may type a position.
    const auto *positions = qobject_cast<const QDoubleValidator *>(ui.posLineEdit->validator());
    l.position = positions ? Range{positions->bottom(), positions->top()} : Range{-1000.0, 1000.0};
    l.speed = SliderRange(ui.SpeedSlider, 0.001);
    l.accel = SliderRange(ui.AccelSlider, 0.001);
    l.decel = SliderRange(ui.DecelSlider, 0.001);
    l.torque = SliderRange(ui.TrqSlider, 1.0);
    return l;
}

double WindowStageControl_c::TravelEstimateSeconds(double from, double to) const
{
    const MainWindowUi &ui = *window->ui;
    // The slider's minimum keeps the speed positive, which the estimate needs.
    const long long distance =
        TargetDistance(ToControllerUnitsTrunc(to), ToControllerUnitsTrunc(from));
    return TravelTimeSeconds(ui.AccelSlider->value(), ui.DecelSlider->value(), distance,
                             qMax(1, ui.SpeedSlider->value()));
}

void WindowStageControl_c::MoveTo(int position)
{
    window->WriteAbsolutePosition(position);
}

void WindowStageControl_c::Run(bool backwards)
{
    // The box shows the direction the stage runs in.
    window->ui->backwards_cBox->setChecked(backwards);
    window->StartRun(backwards);
}

void WindowStageControl_c::Home()
{
    window->Home();
}

void WindowStageControl_c::GoToReference()
{
    window->GoToReference();
}

void WindowStageControl_c::Stop()
{
    window->StopRunAndLoop();
}

void WindowStageControl_c::SetReference(int position)
{
    const QString shown = QString::number(ToDisplayUnits(position), 'g', 6);
    window->ui->RefLineEdit->setText(shown);
    window->SetReference(position, shown);
}

void WindowStageControl_c::SetSliders(int speed, int accel, int decel, int torque)
{
    MainWindowUi &ui = *window->ui;
    // Acceleration first: its slider drags deceleration along.
    const std::pair<QSlider *, int> moves[] = {
        {ui.SpeedSlider, speed}, {ui.AccelSlider, accel}, {ui.DecelSlider, decel},
        {ui.TrqSlider, torque}};
    for (const auto &[slider, value] : moves)
        if (value >= 0)
            slider->setValue(value);
}

void WindowStageControl_c::ShowRemoteActivity(const QString &text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}
