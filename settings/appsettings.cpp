#include "settings/appsettings.h"

#include "link/numeric.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>

namespace {

struct Field
{
    const char *key;
    double AppSettings_c::*member;
    bool integer;  // check states and counts: written as whole numbers
};

// File order, which is also the order keys are matched in when reading.
const Field kFields[] = {
    {"offset", &AppSettings_c::offset, false},
    {"refPos", &AppSettings_c::refPos, false},
    {"maxSpeed", &AppSettings_c::maxSpeed, false},
    {"accel", &AppSettings_c::accel, false},
    {"decel", &AppSettings_c::decel, false},
    {"holdTorque", &AppSettings_c::holdTorque, false},
    {"posA", &AppSettings_c::posA, false},
    {"speedA", &AppSettings_c::speedA, false},
    {"timeA", &AppSettings_c::timeA, false},
    {"useA", &AppSettings_c::useA, true},
    {"posB", &AppSettings_c::posB, false},
    {"speedB", &AppSettings_c::speedB, false},
    {"timeB", &AppSettings_c::timeB, false},
    {"useB", &AppSettings_c::useB, true},
    {"posC", &AppSettings_c::posC, false},
    {"speedC", &AppSettings_c::speedC, false},
    {"timeC", &AppSettings_c::timeC, false},
    {"useC", &AppSettings_c::useC, true},
    {"posD", &AppSettings_c::posD, false},
    {"speedD", &AppSettings_c::speedD, false},
    {"timeD", &AppSettings_c::timeD, false},
    {"useD", &AppSettings_c::useD, true},
    {"loopCount", &AppSettings_c::loopCount, true},
    {"runLoopCont", &AppSettings_c::runLoopCont, true},
};
constexpr int kFieldCount = int(sizeof(kFields) / sizeof(kFields[0]));

// A settings file is well under a kilobyte; anything far larger is the wrong
// file and would only stall the window while it is read.
constexpr qint64 kMaxFileSize = 1024 * 1024;

}  // namespace

AppSettings_c::AppSettings_c(QObject *parent)
    : QObject(parent)
{
}

AppSettings_c::~AppSettings_c() = default;

int AppSettings_c::Save(const QString &fileName)
{
    if (fileName.isEmpty()) {
        lastError = QCoreApplication::translate("AppSettings_c", "No file name given");
        return -1;
    }

    // A FIFO or device is refused as Load refuses it: the rename below would
    // replace it with a plain file, and writing into it would block or vanish.
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        lastError = QCoreApplication::translate("AppSettings_c", "Not a regular file");
        return -1;
    }

    // Written to a temporary file and renamed over the old one on commit, so
    // a full disk or a crash never leaves a half-written settings file.
    QSaveFile safe(fileName);
    if (safe.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (!WriteFields(safe)) {
            lastError = safe.errorString();
            safe.cancelWriting();
            return -1;
        }
        if (!safe.commit()) {
            lastError = safe.errorString();
            return -1;
        }
        lastError.clear();
        return 0;
    }
    // The folder refuses the temporary file. If the file itself may be
    // written (a shared file in a folder only an administrator may change),
    // it is written in place rather than not at all; only here can a write
    // that fails part way leave a shortened file, and the message says so.
    QFile direct(fileName);
    if (!info.isFile()
        || !direct.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        lastError = safe.errorString();
        return -1;
    }
    if (!WriteFields(direct)) {
        lastError = direct.errorString() + '\n'
            + QCoreApplication::translate(
                "AppSettings_c", "The file was written in place and may now be incomplete.");
        return -1;
    }
    lastError.clear();
    return 0;
}

bool AppSettings_c::WriteFields(QFileDevice &file) const
{
    QTextStream out(&file);  // C locale, %g with six significant digits
    out << "# Movexa Settings\n";
    out << "# Exported on "
        << QLocale::c().toString(QDateTime::currentDateTime(),
                                 QStringLiteral("dd.MM.yyyy hh:mm:ss"))
        << "\n\n";
    for (const Field &f : kFields) {
        out << f.key << '=';
        if (f.integer)
            out << SaturateToInt(this->*f.member);
        else
            out << this->*f.member;
        out << '\n';
    }
    out.flush();
    return out.status() == QTextStream::Ok && file.error() == QFileDevice::NoError
        && file.flush();
}

int AppSettings_c::Load(const QString &fileName)
{
    if (fileName.isEmpty()) {
        lastError = QCoreApplication::translate("AppSettings_c", "No file name given");
        return -1;
    }

    // A FIFO or device would block or never end; only plain files are read.
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        lastError = QCoreApplication::translate("AppSettings_c", "Not a regular file");
        return -1;
    }
    if (info.size() > kMaxFileSize) {
        lastError =
            QCoreApplication::translate("AppSettings_c", "File too large for a settings file");
        return -1;
    }

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        lastError = file.errorString();
        return -1;
    }

    // Parsed into a copy so that a read error half way leaves every field as
    // it was.
    double values[kFieldCount];
    for (int i = 0; i < kFieldCount; ++i)
        values[i] = this->*kFields[i].member;

    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList pieces = line.split(QLatin1Char('='), Qt::SkipEmptyParts);
        if (pieces.size() != 2)
            continue;
        // Containment, not equality, and the first key in file order wins.
        int index = -1;
        for (int i = 0; i < kFieldCount && index < 0; ++i)
            if (pieces[0].contains(QLatin1String(kFields[i].key)))
                index = i;
        if (index < 0)
            continue;
        bool ok = false;
        const double v = pieces[1].toDouble(&ok);  // C locale, blanks around allowed
        // "nan", "inf" and overflowing exponents convert, but no widget or
        // controller command can use them.
        if (!ok || !IsUsableNumber(v))
            continue;
        values[index] = v;
    }

    if (in.status() != QTextStream::Ok || file.error() != QFileDevice::NoError) {
        lastError = file.errorString();
        return -1;
    }
    for (int i = 0; i < kFieldCount; ++i)
        this->*kFields[i].member = values[i];
    lastError.clear();
    return 0;
}
