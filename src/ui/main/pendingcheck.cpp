// SPDX-License-Identifier: MIT
#include "ui/main/pendingcheck.h"

#include "ui/main/editbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <utility>

namespace ui {

PendingCheck::PendingCheck(Check check, QObject *parent)
    : QObject(parent), m_check(std::move(check))
{}

void PendingCheck::watch(EditBox *box)
{
    connect(box, &EditBox::focusEntered, this, [this, box] { m_pending = box; });
    connect(box, &EditBox::focusLeft, this, [this, box] {
        // A mouse press on a button moves the focus before the button sees the press. A check
        // run there, which writes a channel and serves events until the write ends, would hand
        // the button its release before its press, and the click would be lost. So that leave
        // checks once the press is delivered (the button's click runs a due check first too).
        if (qobject_cast<QAbstractButton *>(QApplication::focusWidget()))
            QTimer::singleShot(0, this, [this, box] { runFor(box); });
        else
            runFor(box);
    });
    connect(box, &EditBox::returnPressed, this, [this, box] { runFor(box); });
}

void PendingCheck::finish()
{
    if (EditBox *box = std::exchange(m_pending, nullptr))
        m_check(box);
}

void PendingCheck::runFor(EditBox *box)
{
    if (m_pending != box)
        return;
    m_pending = nullptr;
    m_check(box);
}

} // namespace ui
