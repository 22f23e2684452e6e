// SPDX-License-Identifier: MIT
#include "ui/widgets/spinarrows.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace ui {

namespace {

QToolButton *makeArrow(Qt::ArrowType type, const QString &name, QWidget *parent)
{
    auto *arrow = new QToolButton(parent);
    arrow->setArrowType(type);
    arrow->setAccessibleName(name);
    arrow->setAutoRepeat(true);
    arrow->setFocusPolicy(Qt::NoFocus);
    arrow->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    return arrow;
}

} // namespace

SpinArrows::SpinArrows(QWidget *parent) : QWidget(parent)
{
    auto *up = makeArrow(Qt::UpArrow, tr("Up"), this);
    auto *down = makeArrow(Qt::DownArrow, tr("Down"), this);
    m_up = up;
    m_down = down;
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(up);
    layout->addWidget(down);
    connect(up, &QToolButton::clicked, this, [this] { emit stepped(+1); });
    connect(down, &QToolButton::clicked, this, [this] { emit stepped(-1); });
}

} // namespace ui
