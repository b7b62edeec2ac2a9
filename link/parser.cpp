#include "link/parser.h"

#include "link/numeric.h"
#include "link/paramtable.h"

#include <QStringList>

Parser_c::Parser_c(ParamTable_c *t, QObject *parent)
    : QObject(parent)
    , table(t)
{
}

void Parser_c::Parse(QString string)
{
    const QString line = string.trimmed();
    if (line.isEmpty() || line.startsWith('#') || line.startsWith(QLatin1String("ok")))
        return;
    const QStringList parts = line.split('_', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return;  // underscores only: nothing to store
    bool numeric = false;
    parts.first().toDouble(&numeric);
    if (numeric)
        return;
    double value = 0.0;
    if (parts.size() > 1) {
        bool ok = false;
        value = parts.at(1).toDouble(&ok);
        // "nan", "inf" and overflow count as not converting: the table holds
        // finite values only.
        if (!ok || !IsUsableNumber(value))
            value = 0.0;
    }
    if (table->SetValue(parts.first(), value) < 0)
        emit DisplayString(line);
}
