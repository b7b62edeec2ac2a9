#pragma once

#include "sim/stagemodel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <algorithm>

class PtyMaster;

// Puts a StageModel_c on a port and on the wall clock: bytes from the port are
// fed to the model and its replies written back. The model's clock is brought
// up to the time that really passed whenever bytes arrive, and a single-shot
// timer wakes the simulator at the model's next own event (a move ends,
// delayed output falls due); with nothing ahead no timer runs, so an idle
// stage costs no CPU. When the model hangs up, the port is closed, which the
// other side sees as a pulled cable.
class StageSimulator_c : public QObject
{
    Q_OBJECT
public:
    // pty must be open; it is not owned and must outlive the simulator.
    StageSimulator_c(PtyMaster *pty, const StageConfig &config, QObject *parent = nullptr);

    StageModel_c &Model() { return model; }
    const StageModel_c &Model() const { return model; }
    // The last lines received (at most kHistory), oldest first.
    const QList<QByteArray> &History() const { return history; }
    // Lines received so far that begin with prefix, in order.
    QList<QByteArray> LinesStartingWith(const QByteArray &prefix) const;

    // Pulls the cable now.
    void HangUp();
    // Whether a wake-up is armed; false whenever nothing is ahead.
    bool TimerActive() const { return wake.isActive(); }
    // Moves the clock on by ms at once, as if that time had passed unnoticed; the model catches
    // up at the next bytes or wake-up. Wake-ups must stay on time for a controller up for weeks.
    void SkipAhead(qint64 ms) { skippedMs += std::max<qint64>(0, ms); }

    static constexpr int kHistory = 4096;

signals:
    // Each complete received line, before it takes effect.
    void LineReceived(const QByteArray &line);
    // Bytes as written to the port, one signal per write.
    void BytesSent(const QByteArray &bytes);
    void HungUp();

private:
    qint64 Elapsed() const { return clock.elapsed() + skippedMs; }
    void Sync();
    void OnBytes(const QByteArray &bytes);
    void Wake();
    void Arm();
    void Send(const QByteArray &bytes);
    void CheckHangUp();

    PtyMaster *pty;
    StageModel_c model;
    QElapsedTimer clock;
    qint64 skippedMs = 0;
    QTimer wake;
    QList<QByteArray> history;
    bool ended = false;
};
