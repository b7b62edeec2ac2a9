// How closely the station sequence keeps its schedule: the real window, offscreen, on a pty;
// each "!pos_" line is timed on arrival against the schedule (1 ms, then the intervals the window
// chose) and the previous one (per step). Usage: loop_timing [--runs N] [--passes N] [--verbose]

#include "support/testsupport.h"
#include <QtTest>
#include <QtWidgets>
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

// Appends each command's figures (ms) and reports them; false when a command did not arrive.
static bool RunOnce(int run, int n, bool verbose, QList<double> &errors, QList<double> &steps)
{
    WindowRig r(true);  // listed: the start-up discovery opens the pty
    QTest::qWait(800);  // the start-up queries and the set-up after connecting pass untimed
    r.ui->AccelSlider->setValue(40000);
    r.ui->DecelSlider->setValue(40000);
    // At the form's 2 units/s, moves of 0 to 0.15 s; with these waits, intervals of 250 to 400 ms.
    for (const QString station : {"A 0.1 0.1", "B 0.2 0.15", "C 0.3 0.2", "D 0.1 0.05"}) {
        const QStringList s = station.split(' ');  // name, position, wait
        r.w.findChild<QLineEdit *>("Pos" + s[0] + "LineEdit")->setText(s[1]);
        r.w.findChild<QLineEdit *>("Time" + s[0] + "LineEdit")->setText(s[2]);
        r.w.findChild<QCheckBox *>("use" + s[0] + "_cBox")->setChecked(true);
    }
    r.ui->LoopCountSlider->setValue(n / 4);  // not continuous, as the form starts
    QElapsedTimer clock;  // monotonic
    QEventLoop wait;
    QTimer::singleShot(n * 1000, &wait, &QEventLoop::quit);  // should the run stall
    QList<double> intervals, arrivals;  // ms: as each tick started the timer; since the start
    QTimer *loop = r.p.loopTimer();  // the last station's interval is stale and goes unused
    QObject::connect(loop, &QTimer::timeout, &r.w, [&] { intervals << loop->interval(); });
    QObject::connect(&r.pty, &PtyMaster::BytesReceived, &r.w, [&] {
        const QByteArray got = r.pty.Received();  // whole lines only
        while (arrivals.size() < got.left(got.lastIndexOf('\n') + 1).count("!pos_"))
            arrivals << clock.nsecsElapsed() / 1e6;
        if (arrivals.size() >= n)
            wait.quit();
    });
    r.pty.TakeReceived();
    clock.start();
    r.ui->LoopButton->click();  // first station after 1 ms
    wait.exec();
    if (!r.ptyOpen || arrivals.size() != n || r.ui->LoopButton->text() != "Start loop") {
        std::fprintf(stderr, "expected %d station commands, got %d\n", n, int(arrivals.size()));
        return false;
    }
    double scheduled = 1.0;
    for (int k = 0; k < n; scheduled += intervals.value(k++)) {
        const double error = arrivals[k] - scheduled;
        if (k > 0)
            steps << error - errors.last();  // the spacing minus the interval between
        errors << error;
        if (verbose)
            std::printf("  station %2d %c scheduled %9.3f ms  arrived %9.3f ms  error %+7.3f ms\n",
                        k, 'A' + k % 4, scheduled, arrivals[k], error);
    }
    Report("run " + QByteArray::number(run), errors.mid(errors.size() - n),
           steps.mid(steps.size() - n + 1));
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
        return i < 0 ? fallback : std::max(1, args.value(i + 1).toInt());
    };
    QList<double> errors, steps;  // ms, of all runs
    for (int r = 1; r <= option("--runs", 3); ++r)
        if (!RunOnce(r, 4 * option("--passes", 6), args.contains("--verbose"), errors, steps))
            return 1;
    Report("all " + QByteArray::number(option("--runs", 3)) + " runs", errors, steps);
    return 0;
}
