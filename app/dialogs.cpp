#include "app/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {
FileDialogFn saveOverride;
FileDialogFn openOverride;
WarningFn warningOverride;
}  // namespace

QString AskSaveFileName(const FileDialogRequest &r)
{
    if (saveOverride)
        return saveOverride(r);
    return QFileDialog::getSaveFileName(r.parent, r.caption, r.startPath, r.filter);
}

QString AskOpenFileName(const FileDialogRequest &r)
{
    if (openOverride)
        return openOverride(r);
    return QFileDialog::getOpenFileName(r.parent, r.caption, r.startPath, r.filter);
}

void SetFileDialogs(FileDialogFn save, FileDialogFn open)
{
    saveOverride = std::move(save);
    openOverride = std::move(open);
}

void ShowWarning(QWidget *parent, const QString &title, const QString &text)
{
    if (warningOverride)
        warningOverride(parent, title, text);
    else
        QMessageBox::warning(parent, title, text);
}

void SetWarningBox(WarningFn fn)
{
    warningOverride = std::move(fn);
}
