// The settings reader on arbitrary file contents.

#include "link/numeric.h"
#include "settings/appsettings.h"

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const QString path =
        QDir::tempPath() + QString("/movexa-fuzz-settings-%1.txt").arg(::getpid());
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    AppSettings_c settings;
    if (settings.Load(path) != 0)
        std::abort();  // a readable file always loads
    const double fields[] = {settings.offset, settings.refPos, settings.maxSpeed, settings.accel,
        settings.decel, settings.holdTorque, settings.posA, settings.speedA, settings.timeA,
        settings.useA, settings.posB, settings.speedB, settings.timeB, settings.useB, settings.posC,
        settings.speedC, settings.timeC, settings.useC, settings.posD, settings.speedD,
        settings.timeD, settings.useD, settings.loopCount, settings.runLoopCont};
    for (double v : fields)
        if (!IsUsableNumber(v))
            std::abort();  // what was loaded is finite and converts safely
    return 0;
}
