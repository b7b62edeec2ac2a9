// How closely the station sequence keeps its own schedule.
//
// Runs the real window offscreen with a pseudo-terminal as its port, starts a
// station run and timestamps every "!pos_" line as it arrives at the far end.
// The schedule: the first station 1 ms after the start, each further one the
// previous station's interval (estimated travel + wait + 100 ms) later. Prints each
// command's error against that schedule, then the median and the worst.
// It also reports each step on its own: the spacing between two commands
// minus the interval the first one's tick chose, i.e. how late each tick is.
//
// usage: loop_timing [--runs N] [--passes N] [--verbose]

#include "app/stagemath.h"
#include "link/numeric.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtWidgets>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The window logs one line per station; the benchmark measures the
// sequencer, not the terminal.
void QuietDebug(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

struct RunResult
{
    QList<double> errorsMs;  // arrival minus schedule, per station command
    QList<double> stepsMs;   // spacing to the previous command minus its interval
};

double Median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    const int n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

double Worst(const QList<double> &v)
{
    double worst = 0.0;
    for (double e : v)
        worst = std::max(worst, std::abs(e));
    return worst;
}

RunResult RunOnce(int passes, bool verbose)
{
    RunResult result;
    PtyMaster pty;
    if (!pty.Open()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(pty.ErrorString()));
        return result;
    }
    ScopedPortList ports({PtyPortEntry(pty)});
    MainWindow window;
    MainWindowProbe probe(&window);
    MainWindowUi *ui = probe.ui();
    QTimer *loopTimer = probe.loopTimer();

    // Let the start-up exchange (queries, the 500 ms set-up after connecting)
    // finish before timing anything.
    {
        QEventLoop settle;
        QTimer::singleShot(800, &settle, &QEventLoop::quit);
        settle.exec();
    }

    // Short moves (0 to 0.15 s estimated at 2 units/s) and waits of 50 to
    // 200 ms: intervals of 250 to 400 ms.
    ui->AccelSlider->setValue(40000);
    ui->DecelSlider->setValue(40000);
    const char *pos[4] = {"0.1", "0.2", "0.3", "0.1"};
    const char *wait[4] = {"0.1", "0.15", "0.2", "0.05"};
    const QString names[4] = {"A", "B", "C", "D"};
    for (int i = 0; i < 4; ++i) {
        window.findChild<QLineEdit *>("Pos" + names[i] + "LineEdit")->setText(pos[i]);
        window.findChild<QLineEdit *>("Vel" + names[i] + "LineEdit")->setText("2");
        window.findChild<QLineEdit *>("Time" + names[i] + "LineEdit")->setText(wait[i]);
        window.findChild<QCheckBox *>("use" + names[i] + "_cBox")->setChecked(true);
    }
    ui->LoopCountSlider->setValue(passes);
    ui->LoopCheckBox->setChecked(false);

    QElapsedTimer clock;  // monotonic
    QList<double> intervals;  // ms, as each tick started the timer
    QList<double> arrivals;   // ms since the start, per "!pos_" line
    QByteArray partial;

    QObject::connect(loopTimer, &QTimer::timeout, &window, [&] {
        if (loopTimer->isActive())
            intervals << loopTimer->interval();
    });
    QObject::connect(&pty, &PtyMaster::BytesReceived, &window, [&](const QByteArray &bytes) {
        const double now = clock.nsecsElapsed() / 1e6;
        partial += bytes;
        int nl;
        while ((nl = partial.indexOf('\n')) >= 0) {
            if (partial.startsWith("!pos_"))
                arrivals << now;
            partial.remove(0, nl + 1);
        }
    });

    QEventLoop done;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &done, [&] {
        if (probe.loopStopped() == 1)
            done.quit();
    });
    poll.start(50);

    pty.TakeReceived();
    clock.start();
    ui->LoopButton->click();  // first station after 1 ms
    done.exec();
    // The last line may still be on its way through the pty.
    QElapsedTimer grace;
    grace.start();
    while (arrivals.size() < 4 * passes && grace.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    if (arrivals.size() != 4 * passes) {
        std::fprintf(stderr, "expected %d station commands, got %d\n", 4 * passes,
                     int(arrivals.size()));
        return result;
    }
    // The schedule, recomputed from the stations the way the sequence
    // estimates it, so that it does not depend on what the window handed
    // its timer.
    QList<double> planned;
    int previous = 0;  // a fresh window's previous target
    for (int k = 0; k + 1 < 4 * passes; ++k) {
        const int target = ToControllerUnitsTrunc(QString(pos[k % 4]).toDouble());
        const int waitMs = ToControllerUnitsTrunc(QString(wait[k % 4]).toDouble());
        planned << LoopIntervalMs(
            TravelTimeSeconds(40000, 40000, TargetDistance(target, previous), 2000.0), waitMs);
        previous = target;
    }
    if (planned != intervals)
        std::fprintf(stderr, "note: the timer was started with intervals other than the estimate\n");
    double scheduled = 1.0;
    for (int k = 0; k < arrivals.size(); ++k) {
        const double error = arrivals[k] - scheduled;
        result.errorsMs << error;
        if (verbose)
            std::printf("  station %2d  %c  scheduled %9.3f ms  arrived %9.3f ms  error %+7.3f ms\n",
                        k, 'A' + k % 4, scheduled, arrivals[k], error);
        if (k > 0)
            result.stepsMs << arrivals[k] - arrivals[k - 1] - planned[k - 1];
        if (k < planned.size())
            scheduled += planned[k];
    }
    return result;
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(QuietDebug);

    int runs = 3;
    int passes = 6;
    bool verbose = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == "--passes" && i + 1 < args.size())
            passes = std::max(1, args[++i].toInt());
        else if (args[i] == "--verbose")
            verbose = true;
    }

    QList<double> all;
    QList<double> allSteps;
    for (int r = 0; r < runs; ++r) {
        const RunResult res = RunOnce(passes, verbose);
        if (res.errorsMs.isEmpty())
            return 1;
        std::printf("run %d: %d station commands; vs schedule: median %.3f ms, worst %.3f ms;"
                    " per step: median %.3f ms, worst %.3f ms, earliest %+.3f ms\n",
                    r + 1, int(res.errorsMs.size()), Median(res.errorsMs), Worst(res.errorsMs),
                    Median(res.stepsMs), Worst(res.stepsMs),
                    *std::min_element(res.stepsMs.begin(), res.stepsMs.end()));
        all << res.errorsMs;
        allSteps << res.stepsMs;
    }
    std::printf("all %d runs: %d station commands; vs schedule: median %.3f ms, worst %.3f ms;"
                " per step: median %.3f ms, worst %.3f ms, earliest %+.3f ms\n",
                runs, int(all.size()), Median(all), Worst(all), Median(allSteps), Worst(allSteps),
                *std::min_element(allSteps.begin(), allSteps.end()));
    return 0;
}
