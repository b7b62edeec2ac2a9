#include "remote/socketpath.h"

#include <QStandardPaths>

QString DefaultControlSocketPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
           + "/movexa/control.sock";
}
