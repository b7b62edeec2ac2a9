#pragma once

// The panel's command line. It is read before any application object exists,
// so --help, --version, --list-ports and mistakes need no display.

#include "link/portlist.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Exit code of a usage error.
constexpr int kUsageError = 2;
// Exit code when there is no display to show the window on.
constexpr int kNoDisplay = 1;

struct CommandLine
{
    enum class Action { RunPanel, ShowHelp, ShowVersion, ListPorts, Fail };
    Action action = Action::RunPanel;
    QString error;  // Fail: what was wrong, one or more lines
    int exitCode = kUsageError;  // Fail: or kNoDisplay
    bool allOptions = false;  // ShowHelp: Qt's options as well (--help-all)
    bool checkOnly = false;  // --check-options: report a mistake, start nothing
    QString platform;  // Qt's -platform option; empty when not given
    QString display;  // Qt's -display option (X11); empty when not given
    bool virtualStage = false;
    int stageType = 0;  // 0 linear, 1 rotation, 2 lifting
    int serialNumber = 1234;
    QString controllerPort;  // empty: none given
    bool remoteControl = true;
    QString controlSocket;  // empty: the default path
};

// args as the process got them, the program first. Qt's own options
// (-platform, -style, -session, ...) are accepted and left to QApplication.
CommandLine ParseCommandLine(const QStringList &args);
QStringList ArgumentsOf(int argc, char **argv);

// The options unchanged, or, where Qt would find no display to show the
// window on (it aborts there), a failure that says what is missing and how
// to run the panel. Reads DISPLAY, WAYLAND_DISPLAY, XDG_RUNTIME_DIR and
// QT_QPA_PLATFORM from env.
CommandLine CheckDisplay(const CommandLine &options, const QProcessEnvironment &env);

// "Movexa 1.10"
QString VersionText();
// The option list, with Qt's options when all; needs an application object
// for the program's name.
QString HelpText(bool all = false);

// What --list-ports prints for ports: one a line, its path, the USB vendor and product ids as
// four hexadecimal digits ("-" for none), its description and manufacturer.
QString PortListText(const QList<PortEntry> &ports);

// Carries out every action but RunPanel, and ends a --check-options run
// (needs an application object, no display): prints to standard output, or
// the error to standard error, and returns the exit code.
int RunWithoutWindow(const CommandLine &options);
