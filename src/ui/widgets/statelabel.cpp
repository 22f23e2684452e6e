// SPDX-License-Identifier: MIT
#include "ui/widgets/statelabel.h"

#include <QLabel>
#include <QVariant>

namespace ui {

namespace {

constexpr char whatProperty[] = "kalventaStateName";

} // namespace

void nameStateLabel(QLabel *label, const QString &what)
{
    label->setProperty(whatProperty, what);
    showState(label, label->text());
}

void showState(QLabel *label, const QString &text)
{
    label->setText(text);
    const QString what = label->property(whatProperty).toString();
    label->setAccessibleName(text.isEmpty() ? what : QStringLiteral("%1: %2").arg(what, text));
}

} // namespace ui
