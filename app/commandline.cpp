#include "app/commandline.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QTextStream>

namespace {

// The options of Qt's application object that the panel passes on.
struct QtOption
{
    const char *name;
    const char *value;  // null: takes none
    const char *description;
    bool equalsSign;  // Qt also takes "-name=value"
};
const QtOption kQtOptions[] = {
    {"platform", "name[:options]", "Platform to show the window with: xcb, wayland, offscreen, "
                                   "...", false},
    {"platformpluginpath", "path", "Folder to load platform plugins from.", false},
    {"platformtheme", "name", "Platform theme.", false},
    {"plugin", "name", "A further plugin to load; may be repeated.", false},
    {"display", "name", "X display to use instead of $DISPLAY.", false},
    {"style", "name", "Widget style, e.g. fusion (also -style=name).", true},
    {"stylesheet", "file", "Style sheet for the window (also -stylesheet=file).", true},
    {"session", "id", "Restore an earlier session.", false},
    {"qwindowgeometry", "WxH+X+Y", "Size and place of the window.", false},
    {"geometry", "WxH+X+Y", "As -qwindowgeometry, on X11.", false},
    {"qwindowtitle", "title", "Title of the window.", false},
    {"title", "title", "As -qwindowtitle, on X11.", false},
    {"qwindowicon", "file", "Icon of the window.", false},
    {"name", "name", "Instance name of the window on X11.", false},
    {"reverse", nullptr, "Lay the window out from right to left.", false},
    {"widgetcount", nullptr, "Print how many widgets are left at the end (debugging).", false},
    {"nograb", nullptr, "Never grab the mouse or keyboard (debugging).", false},
    {"dograb", nullptr, "Grab them even where -nograb is implied (debugging).", false},
    {"sync", nullptr, "Talk to the X server synchronously (debugging).", false},
};

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
    // Accepted here only so that they reach QApplication, which acts on them;
    // --help-all lists them.
    for (const QtOption &q : kQtOptions) {
        QCommandLineOption o(q.name, QString(), q.value ? "value" : QString());
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        p.addOption(o);
    }
    QCommandLineOption check("check-options");  // for scripts: report a mistake, start nothing
    check.setFlags(QCommandLineOption::HiddenFromHelp);
    p.addOption(check);
    // Qt's options have one dash and whole words.
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

// Qt's form of a value option given as "-name=value", which Qt does not
// understand (it would go on without it, and find no display): empty when
// arg is no such thing.
QString QtSpelling(const QString &arg)
{
    if (!arg.startsWith('-') || !arg.contains('='))
        return QString();
    const QString name = arg.mid(arg.startsWith("--") ? 2 : 1).section('=', 0, 0);
    for (const QtOption &q : kQtOptions)
        if (q.value && !q.equalsSign && name == QLatin1String(q.name))
            return '-' + name + ' ' + arg.section('=', 1);
    return QString();
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

// What the parsed options ask for.
CommandLine ParseValid(const QCommandLineParser &p)
{
    CommandLine c;
    c.platform = p.value("platform");
    c.display = p.value("display");
    const bool help = p.isSet("help") || p.isSet("help-all");
    if (help || p.isSet("version")) {
        c.action = help ? CommandLine::Action::ShowHelp : CommandLine::Action::ShowVersion;
        c.allOptions = p.isSet("help-all");
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

}  // namespace

CommandLine ParseCommandLine(const QStringList &args)
{
    for (const QString &arg : args.mid(1)) {
        const QString spelling = QtSpelling(arg);
        if (!spelling.isEmpty())
            return Failed("Qt takes the value of '" + arg.section('=', 0, 0)
                          + "' as the next argument: write '" + spelling + "'.");
    }
    QCommandLineParser p;
    AddOptions(p);
    if (!p.parse(args))
        return Failed(p.errorText());
    CommandLine c = ParseValid(p);
    c.checkOnly = p.isSet("check-options");
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

QString HelpText(bool all)
{
    QCommandLineParser p;
    AddOptions(p);
    QString text = p.helpText();
    if (!all)
        return text;
    // Written here: the parser would show them with two dashes, and Qt
    // itself takes their values only as the next argument.
    text += "\nQt's options (one dash; a value follows as the next argument):\n";
    for (const QtOption &q : kQtOptions) {
        const QString spelling =
            QString("-%1").arg(q.name) + (q.value ? QString(" <%1>").arg(q.value) : QString());
        text += QString("  %1  %2\n").arg(spelling, -28).arg(q.description);
    }
    return text;
}

CommandLine CheckDisplay(const CommandLine &options, const QProcessEnvironment &env)
{
    if (options.action != CommandLine::Action::RunPanel || options.checkOnly)
        return options;
    const bool x11 = !env.value("DISPLAY").isEmpty() || !options.display.isEmpty();
    // Without WAYLAND_DISPLAY a Wayland client tries the compositor's usual socket.
    const QString runtime = env.value("XDG_RUNTIME_DIR");
    const bool wayland = !env.value("WAYLAND_DISPLAY").isEmpty()
        || (!runtime.isEmpty() && QFileInfo::exists(runtime + "/wayland-0"));
    QString missing;
    const QString platforms = !options.platform.isEmpty() ? options.platform
                                                          : env.value("QT_QPA_PLATFORM");
    if (platforms.isEmpty()) {
        // Qt chooses X11 or Wayland by itself.
        if (x11 || wayland)
            return options;
        missing = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    } else {
        // One platform, or several that Qt tries in turn ("wayland;xcb"), each
        // with its options after a colon. Other platforms than these two need no display.
        QStringList needed;
        for (const QString &entry : platforms.split(';', Qt::SkipEmptyParts)) {
            const QString name = entry.section(':', 0, 0);
            if (name == "xcb" && !x11)
                needed << "DISPLAY";
            else if (name.startsWith("wayland") && !wayland)
                needed << "WAYLAND_DISPLAY";
            else
                return options;
        }
        needed.removeDuplicates();
        missing = "the platform '" + platforms + "' needs "
            + (needed.size() == 1 ? needed[0] + ", which is not set"
                                  : needed.join(" or ") + ", and neither is set");
    }
    CommandLine c = options;
    c.action = CommandLine::Action::Fail;
    c.exitCode = kNoDisplay;
    c.error = "no display to show the window on: " + missing + ".\n"
              "Start it in a desktop session, or without a visible window: "
              "movexa -platform offscreen";
    return c;
}

QString PortListText(const QList<PortEntry> &ports)
{
    // Scripts look for "product 6015".
    QString text;
    for (const PortEntry &port : ports)
        text += port.systemLocation + "  vendor " + IdText(port.vendorId) + "  product "
            + IdText(port.productId) + "  " + port.description
            + (port.manufacturer.isEmpty() ? QString() : " (" + port.manufacturer + ")") + '\n';
    return text;
}

int RunWithoutWindow(const CommandLine &options)
{
    QTextStream out(stdout);
    if (options.checkOnly && options.action != CommandLine::Action::Fail)
        return 0;
    switch (options.action) {
    case CommandLine::Action::ShowHelp:
        out << HelpText(options.allOptions);
        return 0;
    case CommandLine::Action::ShowVersion:
        out << VersionText() << '\n';
        return 0;
    case CommandLine::Action::ListPorts:
        out << PortListText(AvailablePorts());
        return 0;
    case CommandLine::Action::Fail: {
        QTextStream err(stderr);
        err << "movexa: " << options.error << '\n';
        if (options.exitCode == kUsageError)
            err << "Try 'movexa --help' for the options.\n";
        return options.exitCode;
    }
    case CommandLine::Action::RunPanel:
        break;
    }
    return 0;
}
