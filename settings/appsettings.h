#pragma once

#include <QObject>
#include <QString>

class QFileDevice;

// The operator's working values and their plain-text file. Knows nothing of
// widgets or of the controller.
class AppSettings_c : public QObject
{
public:
    explicit AppSettings_c(QObject *parent = nullptr);
    ~AppSettings_c() override;

    // -1: empty name, a path that is not a plain file (a FIFO, a device; left
    // alone), or the file could not be written (the old file is kept,
    // except where it had to be written in place: LastError says so); 0: written.
    int Save(const QString &fileName);
    // -1: empty name or unreadable file (nothing changes); 0: read to its end.
    int Load(const QString &fileName);
    // Why the last Save or Load failed, for the operator.
    QString LastError() const { return lastError; }

    // Start values are the form's own, so a window refreshed from an unused
    // record looks as it did at start.
    double offset = 0.0;
    double refPos = 0.0;
    double maxSpeed = 400.0;
    double accel = 30000.0;
    double decel = 30000.0;
    double holdTorque = 20.0;
    double posA = 4.0;
    double speedA = 2.0;
    double timeA = 1.0;
    double useA = 2.0;
    double posB = 0.0;
    double speedB = 2.0;
    double timeB = 1.0;
    double useB = 2.0;
    double posC = 0.0;
    double speedC = 2.0;
    double timeC = 0.0;
    double useC = 0.0;
    double posD = 0.0;
    double speedD = 2.0;
    double timeD = 0.0;
    double useD = 0.0;
    double loopCount = 3.0;
    double runLoopCont = 0.0;

private:
    // The header and the fields; false when a write failed.
    bool WriteFields(QFileDevice &file) const;

    QString lastError;
};
