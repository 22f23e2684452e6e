// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class QLabel;

namespace ui {

// A label that shows a state ("Running", "A0 = 1", a wiring verdict) is heard as what it is and
// what it says: a screen reader gets "Batch state: Running", never the name alone.
// nameStateLabel says once what the label is; showState sets its text and its spoken name.
void nameStateLabel(QLabel *label, const QString &what);
void showState(QLabel *label, const QString &text);

} // namespace ui
