// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

class QAbstractButton;

namespace ui {

// A vertical spin control: an up and a down arrow that repeat while held. It keeps no value;
// it only says which way it was stepped. It never takes the focus.
class SpinArrows : public QWidget
{
    Q_OBJECT

public:
    explicit SpinArrows(QWidget *parent = nullptr);

    QAbstractButton *upArrow() const { return m_up; }
    QAbstractButton *downArrow() const { return m_down; }

signals:
    // +1 for the up arrow, -1 for the down arrow.
    void stepped(int step);

private:
    QAbstractButton *m_up = nullptr;
    QAbstractButton *m_down = nullptr;
};

} // namespace ui
