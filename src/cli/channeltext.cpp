// SPDX-License-Identifier: MIT
#include "cli/channeltext.h"

#include "device/devicemodel.h"
#include "device/numbertext.h"

namespace cli {

QString hexRegister(int index)
{
    return QStringLiteral("0x") +
           QString::number(device::registerOfChannel(index), 16).toUpper().rightJustified(2, u'0');
}

QString withLeadingZero(QString text)
{
    text = text.trimmed();
    if (text.startsWith(u'.'))
        text.prepend(u'0');
    else if (text.startsWith(QLatin1String("-.")))
        text.insert(1, u'0');
    return text;
}

QString numberWithoutBlank(double value)
{
    return withLeadingZero(device::numberText(value));
}

QString channelText(int index)
{
    return QStringLiteral("channel %1 (register %2)")
        .arg(device::channelLabel(index), hexRegister(index));
}

QString channelTitle(int index)
{
    QString text = channelText(index);
    text[0] = text[0].toUpper();
    return text;
}

QJsonArray jsonCodes(const control::ChannelCodes &codes)
{
    QJsonArray array;
    for (const double code : codes)
        array.append(code);
    return array;
}

QJsonObject channelJson(int index, double code)
{
    return {{QStringLiteral("channel"), device::channelLabel(index)},
            {QStringLiteral("index"), index},
            {QStringLiteral("register"), device::registerOfChannel(index)},
            {QStringLiteral("code"), code},
            {QStringLiteral("hex"), device::shownCode(code)}};
}

} // namespace cli
