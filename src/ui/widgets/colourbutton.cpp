#include "ui/widgets/colourbutton.h"

namespace ui {

ColourButton::ColourButton(QWidget *parent) : QPushButton(parent) {}

void ColourButton::setColour(const QColor &colour)
{
    setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: black; "
                                 "border: 1px solid rgb(96, 96, 96); border-radius: 3px; "
                                 "padding: 4px; } QPushButton:pressed { border-width: 2px; }")
                      .arg(colour.name()));
}

} // namespace ui
