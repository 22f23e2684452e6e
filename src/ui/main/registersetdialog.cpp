// SPDX-License-Identifier: MIT
#include "ui/main/registersetdialog.h"

#include "control/maincontroller.h"

#include <QFileDialog>

namespace ui {

std::unique_ptr<QFileDialog> makeRegisterSetDialog(FilePurpose purpose, const QString &startFolder,
                                                   QWidget *parent)
{
    const bool saving = purpose == FilePurpose::Save;
    auto dialog = std::make_unique<QFileDialog>(parent, saving ? QObject::tr("Save to File")
                                                               : QObject::tr("Load From File"));
    dialog->setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const QStringList filters = control::MainController::fileFilters().split(QStringLiteral(";;"));
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.first());
    if (!startFolder.isEmpty())
        dialog->setDirectory(startFolder);
    dialog->selectFile(QString());
    return dialog;
}

QString runFileDialog(QFileDialog &dialog)
{
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

} // namespace ui
