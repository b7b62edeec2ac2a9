// Start-up to the window shown, and resident memory then, of the panel (plain, and on its virtual
// stage, set up as main() does it), of a minimal Qt Widgets program with one empty window, and of
// that window after one enumeration of the serial ports, which any panel that finds its controller
// by USB id must do (scripts/bench-startup.sh). Prints "<wall-clock ns> <VmRSS KiB>";
// the script subtracts its own time stamp, taken just before it started the process.

#include <QtWidgets>
#include <chrono>
#include <cstdio>
#if defined(START_PANEL) || defined(START_VIRTUAL)
#include "app/mainwindow.h"
#include "app/panelsession.h"
#endif
#ifdef START_PORTS
#include <QSerialPortInfo>
#endif

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
#if defined(START_PANEL) || defined(START_VIRTUAL)
    QApplication::setWindowIcon(QIcon("./motor.png"));
    CommandLine options;
#ifdef START_VIRTUAL
    options.virtualStage = true;  // connected before the window is shown
#endif
    PanelSession_c session(options);
    MainWindow &window = session.Window();
#else
    QWidget window;
#endif
#ifdef START_PORTS
    volatile int ports = QSerialPortInfo::availablePorts().size();
    (void)ports;
#endif
    window.show();
    QTimer::singleShot(0, [&] {  // first pass of the event loop: the window is shown and painted
        const auto now = std::chrono::system_clock::now().time_since_epoch();  // CLOCK_REALTIME
        QFile status("/proc/self/status");  // "VmRSS:\t   25600 kB" among others
        const QByteArray s = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
        const auto rss = s.mid(s.indexOf("VmRSS:") + 6, 20).simplified().split(' ')[0].toLong();
        std::printf("%lld %ld\n", (long long)std::chrono::nanoseconds(now).count(), rss);
        app.quit();
    });
    return app.exec();
}
