#include "link/paramtable.h"

#include "link/numeric.h"
#include "link/serial.h"

#include <QAbstractSlider>
#include <QCheckBox>
#include <QLabel>
#include <cmath>

ParamTable_c::ParamTable_c() = default;

void ParamTable_c::AddEntry(const QString &key, double value, QObject *control, QLabel *label,
                            int decimals, bool persist, const QString &name)
{
    if (count >= kMaxEntries)
        return;  // full: never write past the array
    ParamEntry &e = entries[count];
    e.index = count;
    e.decimals = decimals;
    e.persist = persist ? 1 : 0;
    e.key = key;
    e.value = value;
    e.control = control;
    e.label = label;
    e.name = name;
    ++count;
}

int ParamTable_c::Count() const
{
    return count;
}

int ParamTable_c::IndexOf(const QString &key) const
{
    for (int i = 0; i < count; ++i)
        if (entries[i].key == key)
            return i;
    return -1;
}

int ParamTable_c::IndexOfControl(const QObject *control) const
{
    for (int i = 0; i < count; ++i)
        if (entries[i].control == control)
            return i;
    return -1;
}

double ParamTable_c::ValueOf(const char *key) const
{
    const int i = IndexOf(QLatin1String(key));
    return i < 0 ? 0.0 : entries[i].value;
}

void ParamTable_c::SetValue(int index, double value)
{
    if (index >= 0 && index < count)
        entries[index].value = value;
}

int ParamTable_c::SetValue(const QString &key, double value)
{
    const int i = IndexOf(key);
    if (i >= 0)
        entries[i].value = value;
    return i;
}

void ParamTable_c::SetFromControl(int index, int position)
{
    if (index < 0 || index >= count)
        return;
    entries[index].value = position / std::pow(10.0, entries[index].decimals);
}

void ParamTable_c::PushToControl(int index)
{
    if (index < 0 || index >= count)
        return;
    const ParamEntry &e = entries[index];
    if (e.control) {
        if (auto *slider = qobject_cast<QAbstractSlider *>(e.control))
            slider->setValue(SaturateToInt(e.value * std::pow(10.0, e.decimals)));
        else if (auto *box = qobject_cast<QCheckBox *>(e.control))
            box->setCheckState(e.value > 0.5 ? Qt::Checked : Qt::Unchecked);
    } else if (e.label) {
        e.label->setText(QString::number(e.value, 'f', e.decimals));
    }
}

QString ParamTable_c::FormatEntry(int index) const
{
    if (index < 0 || index >= count)
        return QString();
    const ParamEntry &e = entries[index];
    return e.key + "_" + QString::number(e.value, 'f', e.decimals);
}

void ParamTable_c::SendEntry(int index, Serial_c *link) const
{
    if (index < 0 || index >= count || !link)
        return;
    link->WriteLn(FormatEntry(index));
}

void ParamTable_c::RequestAll(Serial_c *link) const
{
    if (!link)
        return;
    for (int i = 0; i < count; ++i)
        link->Write("?" + entries[i].key + "\n");
}
