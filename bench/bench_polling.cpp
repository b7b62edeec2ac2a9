// CPU time of the panel while connected to the virtual stage and polling it,
// offscreen. The simulator runs as its own process so only the panel's CPU
// is counted. Usage: bench_polling [seconds]   (default 60)

#include "support/testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {
double CpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}
}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 60;

    QProcess sim;
    sim.start(STAGE_SIM_PATH, {"--type", "1"});
    if (!sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    PortEntry entry;
    entry.name = path;
    entry.systemLocation = path;
    entry.productId = 0x6015;
    ScopedPortList ports({entry});

    MainWindow window;
    window.show();
    MainWindowProbe probe(&window);
    if (!probe.serial()->IsOpen()) {
        std::fprintf(stderr, "the panel did not connect to %s\n", qPrintable(path));
        return 1;
    }
    // Let the connection's set-up pass, then measure steady polling.
    double cpu0 = 0;
    QElapsedTimer wall;
    QTimer::singleShot(2000, [&] {
        cpu0 = CpuSeconds();
        wall.start();
        QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    });
    app.exec();
    const double cpu = CpuSeconds() - cpu0;
    const double elapsed = wall.nsecsElapsed() / 1e9;
    std::printf("polled %.1f s: CPU %.3f s = %.3f %% of one core; position read-out: %s\n", elapsed,
                cpu, 100.0 * cpu / elapsed, qPrintable(probe.ui()->AbsolutePos_Label->text()));
    sim.kill();
    sim.waitForFinished();
    return probe.serial()->IsOpen() ? 0 : 1;
}
