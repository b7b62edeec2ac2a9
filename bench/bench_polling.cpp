// CPU time of the panel while connected to the virtual stage and polling it, offscreen. The
// simulator runs as its own process, which first prints its pseudo-terminal's path, so only the
// panel's CPU is counted. Usage: bench_polling [seconds]   (default 60)

#include "support/testsupport.h"
#include <QApplication>
#include <QtTest>
#include <cstdio>
#include <ctime>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 60;
    QProcess sim;
    sim.start(STAGE_SIM_PATH, {"--type", "1"});
    const QString path = sim.waitForReadyRead(10000) ? QString(sim.readLine()).trimmed() : "";
    ScopedPortList ports({PortEntry {path, {}, {}, path, 0, 0x6015}});
    MainWindow window;
    window.show();
    MainWindowProbe probe(&window);
    if (!probe.serial()->IsOpen()) {
        std::fprintf(stderr, "the panel did not connect to '%s'\n", qPrintable(path));
        return 1;
    }
    QTest::qWait(2000);  // the connection's set-up, not counted
    const double cpu0 = std::clock();  // the process's CPU time, user + system, all threads
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, &QApplication::quit);
    app.exec();
    const double cpu = (std::clock() - cpu0) / CLOCKS_PER_SEC, elapsed = wall.nsecsElapsed() / 1e9;
    const QString shown = probe.ui()->AbsolutePos_Label->text();
    std::printf("polled %.1f s: CPU %.3f s = %.3f %% of one core; position read-out: %s\n",
                elapsed, cpu, 100 * cpu / elapsed, qPrintable(shown));
    sim.close();  // kills it and waits
    return probe.serial()->IsOpen() ? 0 : 1;
}
