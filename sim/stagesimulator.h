#pragma once

#include "sim/stagemodel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

class PtyMaster;

// Puts a StageModel_c on a port and on the wall clock: bytes from the port are
// fed to the model, due replies are written back, and a 10 ms tick moves the
// model's clock on by the time that really passed. When the model hangs up,
// the port is closed, which the other side sees as a pulled cable.
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

    static constexpr int kTickMs = 10;
    static constexpr int kHistory = 4096;

signals:
    // Each complete received line, before it takes effect.
    void LineReceived(const QByteArray &line);
    // Bytes as written to the port, one signal per write.
    void BytesSent(const QByteArray &bytes);
    void HungUp();

private:
    void Sync();
    void OnBytes(const QByteArray &bytes);
    void Tick();
    void Send(const QByteArray &bytes);
    void CheckHangUp();

    PtyMaster *pty;
    StageModel_c model;
    QElapsedTimer clock;
    QTimer ticker;
    QList<QByteArray> history;
    bool ended = false;
};
