#include "settings/appsettings.h"

AppSettings_c::AppSettings_c(QObject *parent)
    : QObject(parent)
{
}

AppSettings_c::~AppSettings_c() = default;

int AppSettings_c::Save(const QString &fileName)
{
    Q_UNUSED(fileName);
    return -1;  // TODO
}

int AppSettings_c::Load(const QString &fileName)
{
    Q_UNUSED(fileName);
    return -1;  // TODO
}
