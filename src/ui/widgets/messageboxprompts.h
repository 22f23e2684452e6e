// SPDX-License-Identifier: MIT
#pragma once

#include "control/userprompts.h"

#include <QPointer>
#include <QWidget>

namespace ui {

// The program's questions and messages as message boxes over the main window.
class MessageBoxPrompts : public control::UserPrompts
{
public:
    // The window the boxes belong to; may be set later, as the window is built after the
    // behaviour that asks.
    void setParentWidget(QWidget *parent) { m_parent = parent; }

    void showMessage(const QString &title, const QString &text) override;
    void showError(const QString &title, const QString &text) override;
    bool confirm(const QString &title, const QString &text) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace ui
