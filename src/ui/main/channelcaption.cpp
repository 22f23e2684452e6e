// SPDX-License-Identifier: MIT
#include "ui/main/channelcaption.h"

#include "device/devicemodel.h"

namespace ui {

ChannelCaption::ChannelCaption(int index, QWidget *parent)
    : QLabel(device::channelLabel(index), parent)
{
    setObjectName(QStringLiteral("channelCaption%1").arg(index));
    setAccessibleName(tr("Channel %1").arg(text()));
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void ChannelCaption::setMarked(bool marked)
{
    setAutoFillBackground(marked);
    setBackgroundRole(marked ? QPalette::Highlight : QPalette::Window);
    setForegroundRole(marked ? QPalette::HighlightedText : QPalette::WindowText);
    setAccessibleDescription(marked ? tr("selected") : QString());
}

} // namespace ui
