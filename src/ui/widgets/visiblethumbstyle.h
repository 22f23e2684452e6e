// SPDX-License-Identifier: MIT
#pragma once

#include <QProxyStyle>

namespace ui {

// The application's style, with slider thumbs that stand out in any palette. Styles such as
// Fusion outline a thumb in a darker shade of the window colour, which a dark palette leaves
// next to invisible; this draws the outline again in a tone halfway between the window and its
// text, which contrast in every usable palette, or in the highlight colour while the slider has
// the focus.
class VisibleThumbStyle : public QProxyStyle
{
    Q_OBJECT

public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                            QPainter *painter, const QWidget *widget = nullptr) const override;
};

} // namespace ui
