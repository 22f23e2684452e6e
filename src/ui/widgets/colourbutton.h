// SPDX-License-Identifier: MIT
#pragma once

#include <QPushButton>

namespace ui {

// A push button in one exact colour. A style sheet does it: the style's gradient over a palette
// colour washes it out (a light blue looks nearly white).
class ColourButton : public QPushButton
{
    Q_OBJECT

public:
    explicit ColourButton(QWidget *parent = nullptr);

    void setColour(const QColor &colour);
};

} // namespace ui
