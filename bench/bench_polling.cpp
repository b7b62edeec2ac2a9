// CPU time of the panel while connected to a virtual stage and polling it, offscreen, and of the
// stage simulator alone. Usage: bench_polling [mode] [seconds]   (default 60), mode one of
//   (none)          the panel on movexa-stage-sim in its own process; only the panel is counted
//   --virtual-stage the panel as "movexa --virtual-stage" runs it: the stage on a thread of the
//                   panel's process, so both are counted
//   --sim-idle      movexa-stage-sim alone, nothing connected, counted once it has ended, less
//                   the CPU of one that ends as soon as it is up (its start-up)

#include "app/panelsession.h"
#include "support/testsupport.h"
#include <QApplication>
#include <QtTest>
#include <cstdio>
#include <sys/resource.h>

namespace {
double Seconds(const timeval &t)
{
    return t.tv_sec + t.tv_usec / 1e6;
}
// User + system CPU time of this process (all threads) or of its ended children.
double CpuSeconds(int who)
{
    rusage r{};
    getrusage(who, &r);
    return Seconds(r.ru_utime) + Seconds(r.ru_stime);
}
}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QString mode = !args.isEmpty() && args[0].startsWith("--") ? args.takeFirst() : "";
    const int seconds = args.isEmpty() ? 60 : args[0].toInt();
    QElapsedTimer wall;
    if (mode == "--sim-idle") {
        double counted = 0, startUp = 0, cpu = 0, elapsed = 0;
        for (const int ms : {0, seconds * 1000}) {  // start-up alone, then start-up and idling
            QProcess sim;
            sim.start(STAGE_SIM_PATH, {"--type", "1"});
            if (!sim.waitForReadyRead(10000))
                return 1;
            wall.start();
            QTimer::singleShot(ms, Qt::PreciseTimer, &app, &QApplication::quit);
            app.exec();
            sim.terminate();
            if (!sim.waitForFinished(10000))
                return 1;
            elapsed = wall.nsecsElapsed() / 1e9;
            const double used = CpuSeconds(RUSAGE_CHILDREN) - counted;
            counted += used;
            (ms == 0 ? startUp : cpu) = used - startUp;
        }
        std::printf("movexa-stage-sim idle %.1f s: CPU %.3f s = %.3f %% of one core\n", elapsed,
                    cpu, 100 * cpu / elapsed);
        return 0;
    }

    QProcess sim;
    std::unique_ptr<ScopedPortList> ports;
    CommandLine options;
    if (mode == "--virtual-stage") {
        options.virtualStage = true;
        options.stageType = 1;
    } else {
        sim.start(STAGE_SIM_PATH, {"--type", "1"});
        const QString path = sim.waitForReadyRead(10000) ? QString(sim.readLine()).trimmed() : "";
        ports = std::make_unique<ScopedPortList>(QList<PortEntry>{{path, {}, {}, path, 0, 0x6015}});
    }
    PanelSession_c session(options);
    session.Window().show();
    MainWindowProbe probe(&session.Window());
    if (!probe.serial()->IsOpen()) {
        std::fprintf(stderr, "the panel did not connect\n");
        return 1;
    }
    QTest::qWait(2000);  // the connection's set-up, not counted
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    wall.start();
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, &QApplication::quit);
    app.exec();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpu0, elapsed = wall.nsecsElapsed() / 1e9;
    const QString shown = probe.ui()->AbsolutePos_Label->text();
    std::printf("%s polled %.1f s: CPU %.3f s = %.3f %% of one core; position read-out: %s\n",
                mode == "--virtual-stage" ? "panel with its virtual stage" : "panel",
                elapsed, cpu, 100 * cpu / elapsed, qPrintable(shown));
    return probe.serial()->IsOpen() ? 0 : 1;
}
