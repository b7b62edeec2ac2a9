#pragma once

#include <QObject>
#include <QString>

class ParamTable_c;

// Stores every "key_value" line from the controller in the parameter table.
class Parser_c : public QObject
{
    Q_OBJECT
public:
    Parser_c(ParamTable_c *table, QObject *parent = nullptr);

signals:
    void DisplayString(QString str);

public slots:
    void Parse(QString string);

private:
    ParamTable_c *table;
};
