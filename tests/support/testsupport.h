#pragma once

// Shared by the suites and two benchmarks: read access to the window's members, the window
// wired to a pseudo-terminal peer, whole files, settings records compared field by field.

#include "app/mainwindow.h"
#include "link/portlist.h"
#include "link/paramtable.h"
#include "link/serial.h"
#include "settings/appsettings.h"
#include "sim/ptymaster.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The tests' friend of MainWindow: the members the suites look at.
class MainWindowProbe
{
public:
    explicit MainWindowProbe(MainWindow *w) : w(w) {}
    MainWindowUi *ui() const { return w->ui; }
    Serial_c *serial() const { return w->serial; }
    ParamTable_c *params() const { return w->params; }
    QTimer *pollTimer() const { return w->pollTimer; }
    QTimer *loopTimer() const { return w->loopTimer; }
    QString unitText() const { return w->unitText; }
    double &posOffset() const { return w->posOffset; }
    int loopStopped() const { return w->loopStopped; }
    void SetStageType(int t) const { w->SetStageType(t); }

private:
    MainWindow *w;
};

// A port list holding one pseudo-terminal that claims the controller's USB
// product id, so the window's start-up discovery and the port list find it.
PortEntry PtyPortEntry(const PtyMaster &pty, quint16 productId = 0x6015);

// Installs a port list for the lifetime of the object, restoring the
// system's list afterwards.
class ScopedPortList
{
public:
    explicit ScopedPortList(QList<PortEntry> ports);
    ~ScopedPortList();

private:
    PortListProvider previous;
};

// A whole file's bytes ("<unreadable>" when it cannot be opened), and a file
// replaced by the given bytes (false when that fails).
QByteArray ReadFileBytes(const QString &path);
bool WriteFileBytes(const QString &path, const QByteArray &bytes);

// The fields of to that differ from from's, as "name=value" in the record's order.
QStringList ChangedFields(const AppSettings_c &from, const AppSettings_c &to);

// A window and its pseudo-terminal peer. Listed: the window's start-up discovery
// finds the pty and opens it, connection set-up included; otherwise it finds nothing.
struct WindowRig
{
    explicit WindowRig(bool listed = false);
    // Opens (or closes) the link with polling stopped and without the connection
    // set-up, whose queries and later refresh would mix with what a test checks.
    bool OpenQuietly(bool open = true);

    PtyMaster pty;
    const bool ptyOpen;
    ScopedPortList ports;
    MainWindow w;
    MainWindowProbe p{&w};
    MainWindowUi *ui = p.ui();
};
