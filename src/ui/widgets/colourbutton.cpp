// SPDX-License-Identifier: MIT
#include "ui/widgets/colourbutton.h"

namespace ui {

ColourButton::ColourButton(QWidget *parent) : QPushButton(parent) {}

void ColourButton::setColour(const QColor &colour)
{
    // Disabled (while a command runs), the colour fades halfway to grey and the text greys,
    // as every other button shows that it cannot be pressed now.
    const QColor grey(224, 224, 224);
    const QColor faded((colour.red() + grey.red()) / 2, (colour.green() + grey.green()) / 2,
                       (colour.blue() + grey.blue()) / 2);
    setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: black; "
                                 "border: 1px solid rgb(96, 96, 96); border-radius: 3px; "
                                 "padding: 4px; } QPushButton:pressed { border-width: 2px; } "
                                 "QPushButton:focus { border: 2px solid palette(highlight); } "
                                 "QPushButton:disabled { background-color: %2; "
                                 "color: rgb(128, 128, 128); border-color: rgb(160, 160, 160); }")
                      .arg(colour.name(), faded.name()));
}

} // namespace ui
