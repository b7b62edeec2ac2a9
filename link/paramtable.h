#pragma once

#include <QString>

class QObject;
class QLabel;
class Serial_c;

struct ParamEntry
{
    int index = 0;
    int decimals = 0;
    int persist = 0;
    QString key;
    double value = 0.0;
    QObject *control = nullptr;  // QAbstractSlider or QCheckBox, not owned
    QLabel *label = nullptr;     // not owned
    QString name;
};

// The one store of controller parameters: a fixed array of rows, looked up by
// key or by bound widget.
class ParamTable_c
{
public:
    static constexpr int kMaxEntries = 48;

    ParamTable_c();

    // Appends a row; on a full table nothing changes.
    void AddEntry(const QString &key, double value, QObject *control, QLabel *label,
                  int decimals, bool persist, const QString &name);
    int Count() const;
    int IndexOf(const QString &key) const;
    int IndexOfControl(const QObject *control) const;
    double ValueOf(const char *key) const;
    void SetValue(int index, double value);
    int SetValue(const QString &key, double value);
    void SetFromControl(int index, int position);
    void PushToControl(int index);
    QString FormatEntry(int index) const;
    void SendEntry(int index, Serial_c *link) const;
    void RequestAll(Serial_c *link) const;

    const ParamEntry &Entry(int index) const { return entries[index]; }

private:
    ParamEntry entries[kMaxEntries];
    int count = 0;
};
