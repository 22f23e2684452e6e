// SPDX-License-Identifier: MIT
#pragma once

class QAbstractButton;

namespace ui {

// Enter or Return on a focused button presses it, as Space does. Outside a dialog Qt's buttons
// take only Space, and a keyboard user expects both.
void pressOnEnter(QAbstractButton *button);

} // namespace ui
