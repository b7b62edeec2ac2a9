#include "app/windowicon.h"

#include <QDir>
#include <QStandardPaths>

namespace {
// The installed pictures, found as the icon theme would find them: where the
// platform names no icon theme (a bare X server, the offscreen platform),
// the theme finds nothing.
QIcon HicolorIcon()
{
    QIcon icon;
    const auto dataFolders = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    for (const QString &data : dataFolders) {
        const QDir hicolor(data + "/icons/hicolor");
        for (const QString &size : hicolor.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            if (QFileInfo::exists(hicolor.filePath(size + "/apps/movexa.png")))
                icon.addFile(hicolor.filePath(size + "/apps/movexa.png"));
    }
    return icon;
}
}  // namespace

QIcon WindowIcon()
{
    // A missing or unreadable file still makes a QIcon that is not null, but it has no size.
    const QIcon local("./motor.png");
    return local.availableSizes().isEmpty() ? QIcon::fromTheme("movexa", HicolorIcon()) : local;
}
