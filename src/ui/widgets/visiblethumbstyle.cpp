// SPDX-License-Identifier: MIT
#include "ui/widgets/visiblethumbstyle.h"

#include <QPainter>
#include <QStyleOptionSlider>

namespace ui {

void VisibleThumbStyle::drawComplexControl(ComplexControl control,
                                           const QStyleOptionComplex *option, QPainter *painter,
                                           const QWidget *widget) const
{
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    const auto *slider = qstyleoption_cast<const QStyleOptionSlider *>(option);
    if (control != CC_Slider || !slider || !(slider->subControls & SC_SliderHandle))
        return;
    const QRect thumb = subControlRect(CC_Slider, slider, SC_SliderHandle, widget);
    const QPalette &palette = slider->palette;
    QColor edge = palette.color(QPalette::Highlight);
    if (!(slider->state & State_HasFocus)) {
        const QColor text = palette.color(QPalette::WindowText);
        const QColor window = palette.color(QPalette::Window);
        edge = QColor((text.red() + window.red()) / 2, (text.green() + window.green()) / 2,
                      (text.blue() + window.blue()) / 2);
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(edge, 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(QRectF(thumb).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    painter->restore();
}

} // namespace ui
