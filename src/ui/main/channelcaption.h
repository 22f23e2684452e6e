// SPDX-License-Identifier: MIT
#pragma once

#include <QLabel>

namespace ui {

// A channel's name beside its boxes. The selected channel's name is marked, so the spin arrows
// never act on a channel nobody can see.
class ChannelCaption : public QLabel
{
    Q_OBJECT

public:
    ChannelCaption(int index, QWidget *parent = nullptr);

    void setMarked(bool marked);
};

} // namespace ui
