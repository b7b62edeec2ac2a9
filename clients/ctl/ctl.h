#pragma once

// movexa-ctl: one request to the panel's control socket from the command
// line, its reply printed, the outcome as the exit code.

#include <QJsonObject>
#include <QString>
#include <QStringList>

// Exit codes.
constexpr int kCtlDone = 0;  // done, sent, or a plain result
constexpr int kCtlOther = 1;  // another outcome, an error reply, a lost connection
constexpr int kCtlUsage = 2;
constexpr int kCtlNoPanel = 3;  // nothing listens on the socket

struct CtlCommand
{
    enum class Action { Request, Watch, Help, Version, Fail };
    Action action = Action::Request;
    QString method;
    QJsonObject params;
    bool json = false;  // print replies as they came
    QString socket;  // empty: the panel's default path
    QString error;  // Fail: what was wrong
};

// args without the program's name.
CtlCommand ParseCtlArguments(const QStringList &args);
QString CtlUsage();

// The whole program: parses, connects, prints, returns the exit code.
int RunCtl(int argc, char *argv[]);
