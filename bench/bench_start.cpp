// Start-up to the window shown, and resident memory at that moment. Built
// twice: as the panel and as a minimal Qt Widgets program with one empty
// window, measured side by side by scripts/bench-startup.sh.
// Prints "<wall-clock ns> <VmRSS KiB>"; the script subtracts its own time
// stamp, taken just before it started the process.

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <ctime>

#ifdef START_PANEL
#include "app/mainwindow.h"
#endif

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
    QTimer::singleShot(0, [&] {  // first pass of the event loop: the window is shown and painted
        timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        QFile status("/proc/self/status");
        status.open(QIODevice::ReadOnly);
        const QByteArray text = status.readAll();
        const int at = text.indexOf("VmRSS:");
        const long rss = at < 0 ? -1 : text.mid(at + 6, 20).simplified().split(' ')[0].toLong();
        std::printf("%lld %ld\n", now.tv_sec * 1000000000LL + now.tv_nsec, rss);
        app.quit();
    });
    return app.exec();
}
