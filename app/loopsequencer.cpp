// The timed A to D station sequence. The stage is never asked whether it has
// arrived: each station is commanded once the estimated travel time of the
// previous move, its wait time and a 100 ms margin have passed.

#include "app/mainwindow.h"

#include "app/stagemath.h"
#include "link/numeric.h"

#include <QDebug>
#include <QTimer>

#include <cstdint>

namespace {

// Typed or loaded text in display units (or seconds) to thousandths (or ms);
// an empty field reads as 0.
int Captured(const QLineEdit *edit)
{
    return ToControllerUnitsTrunc(edit->text().toDouble());
}

}  // namespace

void MainWindow::on_LoopButton_clicked()
{
    const bool wasRunning = loopStopped == 0;
    loopStopped = wasRunning ? 1 : 0;
    if (wasRunning) {
        StopLoop();
        loopTimer->stop();
        return;
    }

    emit OperatorMotion();
    ui->LoopButton->setText("Stop loop");
    savedSpeed = ui->SpeedSlider->value();

    const QLineEdit *positions[4] = {ui->PosALineEdit, ui->PosBLineEdit, ui->PosCLineEdit,
                                     ui->PosDLineEdit};
    const QLineEdit *speeds[4] = {ui->VelALineEdit, ui->VelBLineEdit, ui->VelCLineEdit,
                                  ui->VelDLineEdit};
    const QLineEdit *waits[4] = {ui->TimeALineEdit, ui->TimeBLineEdit, ui->TimeCLineEdit,
                                 ui->TimeDLineEdit};
    for (int i = 0; i < 4; ++i)
        stationPos[i] = Captured(positions[i]);
    for (int i = 0; i < 4; ++i)
        stationSpeed[i] = Captured(speeds[i]);
    for (int i = 0; i < 4; ++i)
        stationWait[i] = Captured(waits[i]);  // seconds to ms

    loopAccel = ui->AccelSlider->value();
    loopDecel = ui->DecelSlider->value();

    stationUsed[0] = ui->useA_cBox->isChecked();
    stationUsed[1] = ui->useB_cBox->isChecked();
    stationUsed[2] = ui->useC_cBox->isChecked();
    stationUsed[3] = ui->useD_cBox->isChecked();

    loopEnd = SaturateToInt(std::int64_t{4} * ui->LoopCountSlider->value());
    if (ui->LoopCheckBox->isChecked())
        loopEnd = 1000000;  // 250000 passes

    // The first station goes out from the event loop, not from inside the click.
    loopTimer->start(1);
    loopIndex = 0;
    emit LoopStateChanged(true);
}

void MainWindow::LoopTimerFct()
{
    loopTimer->stop();

    int s = loopIndex % 4;
    if (!stationUsed[s]) {
        // With no station in use the search below would only end at loopEnd,
        // and never when loopEnd is 0.
        if (!stationUsed[0] && !stationUsed[1] && !stationUsed[2] && !stationUsed[3]) {
            StopLoop();
            return;
        }
        ++loopIndex;
        if (loopIndex == loopEnd || loopStopped) {
            StopLoop();
            return;
        }
        // Ends within one pass: some station is in use.
        for (;;) {
            s = loopIndex % 4;
            if (stationUsed[s])
                break;
            ++loopIndex;
            if (loopIndex == loopEnd) {
                StopLoop();
                return;
            }
        }
    }

    qDebug() << "Index: " << s;

    loopTarget = stationPos[s];
    double v = stationSpeed[s];
    const int w = stationWait[s];

    // The speed goes out before the position, so the move runs at it.
    ui->SpeedSlider->setValue(stationSpeed[s]);
    SendPosition(stationPos[s]);

    // A station without a usable speed moves at whatever the slider holds
    // (it clamps to its minimum); estimating with 0 would divide by zero.
    if (!(v > 0.0))
        v = ui->SpeedSlider->value();

    const double t = TravelTimeSeconds(loopAccel, loopDecel,
                                       TargetDistance(loopTarget, loopPrevTarget), v);

    ++loopIndex;
    loopPrevTarget = loopTarget;

    // The last station's move is not waited for.
    if (loopIndex >= loopEnd || loopStopped) {
        StopLoop();
        return;
    }
    loopTimer->start(LoopIntervalMs(t, w));
}

void MainWindow::StopLoop()
{
    loopStopped = 1;
    ui->LoopButton->setText("Start loop");
    ui->SpeedSlider->setValue(savedSpeed);
    emit LoopStateChanged(false);
}

void MainWindow::on_LoopCountSlider_valueChanged(int value)
{
    ui->LoopCountLabel->setText(QString::number(value));
}
