// How closely the station sequence keeps its schedule: the real window, offscreen, on a pty;
// each "!pos_" line is timed as it arrives. vs schedule: arrival minus 1 ms plus the estimated
// intervals before it; per step: spacing to the previous command minus its interval.
// usage: loop_timing [--runs N] [--passes N] [--verbose]

#include "app/stagemath.h"
#include "link/numeric.h"
#include "support/testsupport.h"
#include <QtTest>
#include <QtWidgets>
#include <algorithm>
#include <cstdio>

static void Report(const QByteArray &label, QList<double> errors, QList<double> steps)
{
    std::sort(errors.begin(), errors.end());
    std::sort(steps.begin(), steps.end());
    auto median = [](const auto &v) { return (v[(v.size() - 1) / 2] + v[v.size() / 2]) / 2; };
    auto worst = [](const auto &v) { return std::max(-v.front(), v.back()); };
    std::printf("%s: %d station commands; vs schedule: median %.3f ms, worst %.3f ms; per step: "
                "median %.3f ms, worst %.3f ms, earliest %+.3f ms\n", label.constData(),
                int(errors.size()), median(errors), worst(errors), median(steps), worst(steps),
                steps.front());
}

// Appends each command's figures (ms); false when the run did not deliver every command.
static bool RunOnce(int passes, bool verbose, QList<double> &errors, QList<double> &steps)
{
    PtyMaster pty;
    pty.Open();  // failing, no command arrives
    ScopedPortList ports({PtyPortEntry(pty)});
    MainWindow window;
    MainWindowProbe probe(&window);
    MainWindowUi *ui = probe.ui();
    const int n = 4 * passes, accel = 40000;
    // At the form's 2 units/s, moves of 0 to 0.15 s; with these waits, intervals of 250 to 400 ms.
    const double pos[4] = {0.1, 0.2, 0.3, 0.1}, waits[4] = {0.1, 0.15, 0.2, 0.05};
    QTest::qWait(800);  // the start-up queries and the set-up after connecting pass untimed
    ui->AccelSlider->setValue(accel);
    ui->DecelSlider->setValue(accel);
    for (int i = 0; i < 4; ++i) {
        const QString s(QChar('A' + i));
        window.findChild<QLineEdit *>("Pos" + s + "LineEdit")->setText(QString::number(pos[i]));
        window.findChild<QLineEdit *>("Time" + s + "LineEdit")->setText(QString::number(waits[i]));
        window.findChild<QCheckBox *>("use" + s + "_cBox")->setChecked(true);
    }
    ui->LoopCountSlider->setValue(passes);
    ui->LoopCheckBox->setChecked(false);
    QElapsedTimer clock;  // monotonic
    QEventLoop wait;
    QTimer::singleShot(n * 1000, &wait, &QEventLoop::quit);  // should the run stall
    QList<double> intervals, arrivals;  // ms: as each tick started the timer; since the start
    QObject::connect(probe.loopTimer(), &QTimer::timeout, &window, [&] {
        if (probe.loopTimer()->isActive())
            intervals << probe.loopTimer()->interval();
    });
    QObject::connect(&pty, &PtyMaster::BytesReceived, &window, [&] {
        const double now = clock.nsecsElapsed() / 1e6;
        const QByteArray lines = pty.Received().left(pty.Received().lastIndexOf('\n') + 1);
        while (arrivals.size() < lines.count("!pos_"))
            arrivals << now;
        if (arrivals.size() >= n)
            wait.quit();
    });
    pty.TakeReceived();
    clock.start();
    ui->LoopButton->click();  // first station after 1 ms
    wait.exec();
    if (arrivals.size() != n || probe.loopStopped() != 1) {
        std::fprintf(stderr, "expected %d station commands, got %d\n", n, int(arrivals.size()));
        return false;
    }
    // The schedule as the sequence estimates it, not what the window handed its timer.
    QList<double> planned;
    double scheduled = 1.0;
    for (int k = 0, previous = 0; k < n; scheduled += planned[k++]) {  // a fresh window: from 0
        const double error = arrivals[k] - scheduled;
        if (k > 0)
            steps << error - errors.last();  // the spacing minus the interval between
        errors << error;
        if (verbose)
            std::printf("  station %2d %c scheduled %9.3f ms  arrived %9.3f ms  error %+7.3f ms\n",
                        k, 'A' + k % 4, scheduled, arrivals[k], error);
        const int target = ToControllerUnitsTrunc(pos[k % 4]);
        const long long distance = TargetDistance(target, std::exchange(previous, target));
        const double travel = TravelTimeSeconds(accel, accel, distance, 2000);
        planned << LoopIntervalMs(travel, ToControllerUnitsTrunc(waits[k % 4]));
    }
    if (planned.mid(0, n - 1) != intervals)  // the last station starts no interval
        std::fprintf(stderr, "note: the timer's intervals differ from the estimate\n");
    return true;
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules("default.debug=false");  // one log line per station
    const QStringList args = app.arguments();
    auto option = [&](const char *name, int fallback) {
        const int i = args.indexOf(name);
        return i > 0 && i + 1 < args.size() ? std::max(1, args[i + 1].toInt()) : fallback;
    };
    QList<double> errors, steps;  // ms, of all runs
    for (int r = 1; r <= option("--runs", 3); ++r) {
        const int e0 = errors.size(), s0 = steps.size();
        if (!RunOnce(option("--passes", 6), args.contains("--verbose"), errors, steps))
            return 1;
        Report("run " + QByteArray::number(r), errors.mid(e0), steps.mid(s0));
    }
    Report("all " + QByteArray::number(option("--runs", 3)) + " runs", errors, steps);
    return 0;
}
