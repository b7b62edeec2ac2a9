#pragma once

// The file dialogs of the settings menu, behind one seam so tests can answer
// them without a person. By default they are Qt's standard dialogs.

#include <QString>
#include <functional>

class QWidget;

struct FileDialogRequest
{
    QWidget *parent;
    QString caption;
    QString startPath;
    QString filter;
};

using FileDialogFn = std::function<QString(const FileDialogRequest &)>;

QString AskSaveFileName(const FileDialogRequest &request);
QString AskOpenFileName(const FileDialogRequest &request);

// Replace the dialogs (empty functions restore Qt's). For tests.
void SetFileDialogs(FileDialogFn save, FileDialogFn open);

// The warning box shown when a settings file cannot be written or read; by
// default QMessageBox::warning. Tests replace it to see the text without a
// modal loop (an empty function restores Qt's).
using WarningFn = std::function<void(QWidget *parent, const QString &title, const QString &text)>;
void ShowWarning(QWidget *parent, const QString &title, const QString &text);
void SetWarningBox(WarningFn fn);
