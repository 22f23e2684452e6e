// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace control {

// The batch window's file list as the runner sees it. The runner asks at the moment it needs
// an answer, because the user may change the selection or the folder while a run waits.
class BatchList
{
public:
    virtual ~BatchList() = default;

    virtual int count() const = 0;
    // False for a position outside 0..count() - 1: a refilled list may be shorter than the
    // pass or step that asks.
    virtual bool isSelected(int position) const = 0;
    virtual QString name(int position) const = 0;
    // The folder the listed names live in.
    virtual QString folder() const = 0;
};

} // namespace control
