#include "sim/stagesimulator.h"

#include "sim/ptymaster.h"

#include <algorithm>
#include <limits>

StageSimulator_c::StageSimulator_c(PtyMaster *port, const StageConfig &config, QObject *parent)
    : QObject(parent)
    , pty(port)
    , model(config)
    , wake(this)  // a child: it follows the simulator to another thread
{
    model.SetLineHook([this](const QByteArray &line) {
        history.append(line);
        if (history.size() > kHistory)
            history.removeFirst();
        emit LineReceived(line);
    });
    connect(pty, &PtyMaster::BytesReceived, this, &StageSimulator_c::OnBytes);
    // The far end of an adopted device went away (e.g. a null-modem bridge
    // ended): nothing more can be served.
    connect(pty, &PtyMaster::HungUp, this, &StageSimulator_c::HangUp);
    // Motion timing is what the panel's sequencer is checked against; a
    // coarse timer would blur it.
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    connect(&wake, &QTimer::timeout, this, &StageSimulator_c::Wake);
    clock.start();
    CheckHangUp();  // a hang-up at 0 means a dead line from the start
    Arm();
}

QList<QByteArray> StageSimulator_c::LinesStartingWith(const QByteArray &prefix) const
{
    QList<QByteArray> out;
    for (const QByteArray &line : history)
        if (line.startsWith(prefix))
            out.append(line);
    return out;
}

void StageSimulator_c::Sync()
{
    model.Advance(Elapsed() - model.Now());
}

void StageSimulator_c::OnBytes(const QByteArray &bytes)
{
    // The port keeps its own copy of everything received; the model has it
    // now, so the copy would only grow.
    pty->TakeReceived();
    if (ended)
        return;
    Sync();
    Send(model.Feed(bytes));
    CheckHangUp();
    Arm();
}

void StageSimulator_c::Wake()
{
    Sync();
    Send(model.TakeDue());
    CheckHangUp();
    Arm();
}

void StageSimulator_c::Arm()
{
    const qint64 next = ended ? -1 : model.NextWakeMs();
    if (next < 0) {
        wake.stop();
        return;
    }
    // Sync has run the model up to now, so next lies ahead of it; a moment
    // already passed since then gives 0, which still makes progress.
    const qint64 delay = std::max<qint64>(0, next - Elapsed());
    wake.start(static_cast<int>(std::min<qint64>(delay, std::numeric_limits<int>::max())));
}

void StageSimulator_c::Send(const QByteArray &bytes)
{
    if (bytes.isEmpty() || ended)
        return;
    pty->Write(bytes);
    emit BytesSent(bytes);
}

void StageSimulator_c::HangUp()
{
    model.HangUp();
    CheckHangUp();
}

void StageSimulator_c::CheckHangUp()
{
    if (ended || !model.IsHungUp())
        return;
    ended = true;
    wake.stop();
    // Closed from the event loop: this may run inside the port's own read
    // notification, which must not lose its notifier under its feet.
    QMetaObject::invokeMethod(
        this,
        [this] {
            pty->Close();
            emit HungUp();
        },
        Qt::QueuedConnection);
}
