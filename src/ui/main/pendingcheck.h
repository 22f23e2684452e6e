// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <functional>

namespace ui {

class EditBox;

// The check a box runs when the user is done with it (the grid parses and writes the channel,
// or applies Vsup). It is due from entering or editing the box until it has run once, and runs
// on a real leave, on Enter (the focus stays), or before a command acts.
class PendingCheck : public QObject
{
    Q_OBJECT

public:
    using Check = std::function<void(EditBox *)>;

    explicit PendingCheck(Check check, QObject *parent = nullptr);

    // Follows the box's focus and its Enter key.
    void watch(EditBox *box);
    // The user changed the box's text: its check is due again.
    void edited(EditBox *box) { m_pending = box; }
    // Runs the due check now, if any.
    void finish();
    // Drops the due check unrun: the window is closing.
    void drop() { m_pending = nullptr; }

private:
    void runFor(EditBox *box);

    Check m_check;
    EditBox *m_pending = nullptr;
};

} // namespace ui
