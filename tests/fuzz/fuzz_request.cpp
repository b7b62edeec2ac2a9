// The control socket's request handling: arbitrary bytes, cut into lines as the server cuts
// them, against the real window connected to a pseudo-terminal. Every reply must be one line
// of JSON-RPC, and nothing may crash or hang. (Where no pseudo-terminal exists the window runs
// unconnected, which still covers the parsing and the checks.)

#include "app/mainwindow.h"
#include "app/windowstagecontrol.h"
#include "link/portlist.h"
#include "remote/remoteserver.h"
#include "sim/ptymaster.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>

namespace {

void CheckLine(const QByteArray &line, bool reply)
{
    if (!line.endsWith('\n') || line.count('\n') != 1)
        qFatal("not one line: %s", line.constData());
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
    if (error.error != QJsonParseError::NoError || o.value("jsonrpc") != QJsonValue("2.0"))
        qFatal("not JSON-RPC: %s", line.constData());
    if (reply && (!o.contains("id") || o.contains("result") == o.contains("error")))
        qFatal("not a reply: %s", line.constData());
}

struct Panel
{
    Panel()
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = new QApplication(argc, argv);
        // Listed as the controller, so the window opens it at start; the replies never come,
        // the table keeps its start values.
        if (pty.Open()) {
            PortEntry e{pty.SlavePath().mid(5), "fuzz", "", pty.SlavePath(), 0, 0x6015};
            SetPortListProvider([e] { return QList<PortEntry>{e}; });
        }
        window = new MainWindow;
        control = new WindowStageControl_c(window);
    }
    int argc = 1;
    char name[13] = "fuzz_request";
    char *argv[2] = {name, nullptr};
    QApplication *app;
    PtyMaster pty;
    MainWindow *window;
    WindowStageControl_c *control;
};

}  // namespace

Panel *panel = nullptr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (!panel) {
        panel = new Panel;
        // Closing the window closes the port, whose lock file would otherwise outlive the
        // process and keep that pseudo-terminal number from the next suites.
        std::atexit([] { delete panel->window; });
    }
    RequestHandler_c handler(panel->control);
    QObject::connect(&handler, &RequestHandler_c::Deliver,
                     [](int, const QByteArray &line) { CheckLine(line, false); });
    const int client = handler.AddClient();
    const int other = handler.AddClient();
    handler.HandleLine(other, R"({"jsonrpc":"2.0","method":"subscribe"})");

    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    for (const QByteArray &line : input.split('\n')) {
        if (line.size() > RemoteServer_c::kMaxLine || line.trimmed().isEmpty())
            continue;  // the server answers these itself
        const QByteArray reply = handler.HandleLine(client, line);
        if (!reply.isEmpty())
            CheckLine(reply, true);
        emit panel->control->Polled();  // waits advance on polls
    }
    handler.RemoveClient(client);
    emit panel->control->OperatorMotion();
    // Lets the link write what was sent and the ended waits' timers go.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    panel->pty.TakeReceived();
    return 0;
}
