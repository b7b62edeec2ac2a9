#include "app/commandline.h"

#include "link/portlist.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace {

const QStringList kStageTypes = {"linear", "rotation", "lifting"};

void AddOptions(QCommandLineParser &p)
{
    p.setApplicationDescription(
        "Control panel for one motorised positioning stage. Without options it opens the "
        "controller's port (USB product id 0x6015) if one is attached.");
    p.addHelpOption();
    p.addVersionOption();
    p.addOptions({
        {"virtual-stage", "Run the panel on the built-in virtual stage controller."},
        {"stage-type", "Type of the virtual stage: linear (default), rotation or lifting.",
         "TYPE"},
        {"serial-number", "Serial number of the virtual stage (default 1234).", "N"},
        {"controller-port", "List PATH (e.g. one end of a null-modem pair) as the controller's "
                            "port, so the panel finds and opens it at start.", "PATH"},
        {"list-ports", "Print the system's serial ports with their USB vendor and product ids."},
        {"control-socket", "Listen for scripts on the local socket PATH (default: "
                           "$XDG_RUNTIME_DIR/movexa/control.sock).", "PATH"},
        {"no-remote-control", "Do not listen for scripts."},
    });
    // Accepted here only so that they reach QApplication, which acts on them.
    for (const char *name : {"platform", "platformpluginpath", "platformtheme", "plugin", "style",
                             "stylesheet", "session", "display", "geometry", "qwindowgeometry",
                             "qwindowtitle", "qwindowicon", "title", "name"}) {
        QCommandLineOption o(name, QString(), "value");
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        p.addOption(o);
    }
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption o(name);
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        p.addOption(o);
    }
    // Qt's options have one dash and whole words.
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

CommandLine Failed(const QString &error)
{
    CommandLine c;
    c.action = CommandLine::Action::Fail;
    c.error = error;
    return c;
}

QString IdText(quint16 id)
{
    return id == 0 ? QString("-") : QString("%1").arg(id, 4, 16, QChar('0'));
}

}  // namespace

CommandLine ParseCommandLine(const QStringList &args)
{
    QCommandLineParser p;
    AddOptions(p);
    if (!p.parse(args))
        return Failed(p.errorText());
    CommandLine c;
    const bool help = p.isSet("help") || p.isSet("help-all");
    if (help || p.isSet("version")) {
        c.action = help ? CommandLine::Action::ShowHelp : CommandLine::Action::ShowVersion;
        return c;
    }
    if (!p.positionalArguments().isEmpty())
        return Failed("Unexpected argument '" + p.positionalArguments().first() + "'.");
    if (p.isSet("list-ports")) {
        c.action = CommandLine::Action::ListPorts;
        return c;
    }
    c.virtualStage = p.isSet("virtual-stage");
    c.controllerPort = p.value("controller-port");
    if (c.virtualStage && p.isSet("controller-port"))
        return Failed("--virtual-stage and --controller-port both name the controller; give one.");
    if (p.isSet("controller-port") && c.controllerPort.isEmpty())
        return Failed("--controller-port wants a path.");
    if (!c.virtualStage && (p.isSet("stage-type") || p.isSet("serial-number")))
        return Failed("--stage-type and --serial-number set up the virtual stage; "
                      "add --virtual-stage.");
    c.remoteControl = !p.isSet("no-remote-control");
    c.controlSocket = p.value("control-socket");
    if (p.isSet("control-socket") && !c.remoteControl)
        return Failed("--control-socket and --no-remote-control contradict each other; give one.");
    if (p.isSet("control-socket") && c.controlSocket.isEmpty())
        return Failed("--control-socket wants a path.");
    if (p.isSet("stage-type")) {
        c.stageType = kStageTypes.indexOf(p.value("stage-type"));
        if (c.stageType < 0)
            return Failed("--stage-type wants linear, rotation or lifting, not '"
                          + p.value("stage-type") + "'.");
    }
    if (p.isSet("serial-number")) {
        bool ok = false;
        const qint64 n = p.value("serial-number").toLongLong(&ok);
        if (!ok || n < 0 || n > 2147483647)
            return Failed("--serial-number wants a whole number from 0 to 2147483647.");
        c.serialNumber = static_cast<int>(n);
    }
    return c;
}

QStringList ArgumentsOf(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

QString VersionText()
{
    return "Movexa " MOVEXA_VERSION;
}

QString HelpText()
{
    QCommandLineParser p;
    AddOptions(p);
    return p.helpText();
}

int RunWithoutWindow(const CommandLine &options)
{
    QTextStream out(stdout);
    switch (options.action) {
    case CommandLine::Action::ShowHelp:
        out << HelpText();
        return 0;
    case CommandLine::Action::ShowVersion:
        out << VersionText() << '\n';
        return 0;
    case CommandLine::Action::ListPorts:
        // One port a line; scripts look for "product 6015".
        for (const PortEntry &port : AvailablePorts())
            out << port.systemLocation << "  vendor " << IdText(port.vendorId) << "  product "
                << IdText(port.productId) << "  " << port.description
                << (port.manufacturer.isEmpty() ? QString() : " (" + port.manufacturer + ")")
                << '\n';
        return 0;
    case CommandLine::Action::Fail:
        QTextStream(stderr) << "movexa: " << options.error << '\n'
                            << "Try 'movexa --help' for the options.\n";
        return kUsageError;
    case CommandLine::Action::RunPanel:
        break;
    }
    return 0;
}
