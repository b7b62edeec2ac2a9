#pragma once

// The panel's command line. It is read before any application object exists,
// so --help, --version, --list-ports and mistakes need no display.

#include <QString>
#include <QStringList>

struct CommandLine
{
    enum class Action { RunPanel, ShowHelp, ShowVersion, ListPorts, Fail };
    Action action = Action::RunPanel;
    QString error;  // Fail: what was wrong with the arguments
    bool virtualStage = false;
    int stageType = 0;  // 0 linear, 1 rotation, 2 lifting
    int serialNumber = 1234;
    QString controllerPort;  // empty: none given
    bool remoteControl = true;
    QString controlSocket;  // empty: the default path
};

// Exit code of a usage error.
constexpr int kUsageError = 2;

// args as the process got them, the program first. Qt's own options
// (-platform, -style, -session, ...) are accepted and left to QApplication.
CommandLine ParseCommandLine(const QStringList &args);
QStringList ArgumentsOf(int argc, char **argv);

// "Movexa 1.10"
QString VersionText();
// The option list; needs an application object for the program's name.
QString HelpText();

// Carries out every action but RunPanel (needs an application object, no
// display): prints to standard output, or the error to standard error, and
// returns the exit code.
int RunWithoutWindow(const CommandLine &options);
