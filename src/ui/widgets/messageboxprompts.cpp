// SPDX-License-Identifier: MIT
#include "ui/widgets/messageboxprompts.h"

#include <QMessageBox>

namespace ui {

namespace {

// Texts come with the program's CR LF line breaks; a message box breaks lines at LF alone.
QString shown(const QString &text)
{
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return lines;
}

} // namespace

void MessageBoxPrompts::showMessage(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title, shown(text), QMessageBox::Ok, m_parent);
    box.exec();
}

void MessageBoxPrompts::showError(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, shown(text), QMessageBox::Ok, m_parent);
    box.exec();
}

bool MessageBoxPrompts::confirm(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Question, title, shown(text), QMessageBox::Yes | QMessageBox::No,
                    m_parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace ui
