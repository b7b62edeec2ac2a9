#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into the Received signal, delivered by
// the event loop, so that the panel ends through its ordinary shut-down (the
// port and its lock released, the virtual stage ended) rather than dying
// where it stands. The handler only writes the signal's number to a socket
// pair; everything else happens in the GUI thread. One instance at a time;
// destruction restores the default actions. Elsewhere than on Unix it does
// nothing.
class UnixSignals_c : public QObject
{
    Q_OBJECT
public:
    explicit UnixSignals_c(QObject *parent = nullptr);
    ~UnixSignals_c() override;

signals:
    void Received(int signalNumber);

private:
    void OnReadable();

    QSocketNotifier *notifier = nullptr;
};
