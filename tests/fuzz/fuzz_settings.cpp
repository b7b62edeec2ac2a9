// The settings reader on arbitrary file contents.

#include "link/numeric.h"
#include "settings/appsettings.h"

#include <QDir>
#include <QFile>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const QString path =
        QDir::tempPath() + QString("/movexa-fuzz-settings-%1.txt").arg(::getpid());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    file.close();

    AppSettings_c s;
    if (s.Load(path) != 0)
        qFatal("a readable file did not load");
    // What was loaded is finite and converts safely.
    for (double v : {s.offset, s.refPos, s.maxSpeed, s.accel, s.decel, s.holdTorque, s.loopCount,
                     s.runLoopCont, s.posA, s.speedA, s.timeA, s.useA, s.posB, s.speedB, s.timeB,
                     s.useB, s.posC, s.speedC, s.timeC, s.useC, s.posD, s.speedD, s.timeD, s.useD})
        if (!IsUsableNumber(v))
            qFatal("an unusable number was loaded");
    return 0;
}
