#include "ui/main/pendingcheck.h"

#include "ui/main/editbox.h"

#include <utility>

namespace ui {

PendingCheck::PendingCheck(Check check, QObject *parent)
    : QObject(parent), m_check(std::move(check))
{}

void PendingCheck::watch(EditBox *box)
{
    connect(box, &EditBox::focusEntered, this, [this, box] { m_pending = box; });
    connect(box, &EditBox::focusLeft, this, [this, box] { runFor(box); });
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
