// Start-up to the window shown, and resident memory at that moment. Built
// twice: as the panel and as a minimal Qt Widgets program with one empty
// window, measured side by side by scripts/bench-startup.sh.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <ctime>

#ifdef START_PANEL
#include "app/mainwindow.h"
#endif

namespace {
long ResidentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Wall-clock time now, in nanoseconds; the driver subtracts its own time
// stamp taken just before it started the process.
long long NowNs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}
}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
#ifdef START_PANEL
    QApplication::setWindowIcon(QIcon("./motor.png"));
    MainWindow window;
#else
    QWidget window;
#endif
    window.show();
    QTimer::singleShot(0, [&] {
        // First pass of the event loop: the window is shown and painted.
        std::printf("%lld %ld\n", NowNs(), ResidentKiB());
        app.quit();
    });
    return app.exec();
}
