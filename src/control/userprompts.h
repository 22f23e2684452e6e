// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace control {

// Message boxes, asked for by the program's behaviour and shown by the windows (tests answer
// them instead).
class UserPrompts
{
public:
    virtual ~UserPrompts() = default;

    virtual void showMessage(const QString &title, const QString &text) = 0;
    virtual void showError(const QString &title, const QString &text) = 0;
    // A yes/no question whose default answer is No.
    virtual bool confirm(const QString &title, const QString &text) = 0;
};

} // namespace control
