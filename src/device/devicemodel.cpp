#include "device/devicemodel.h"

namespace device {

QString channelLabel(int index)
{
    if (index == 19)
        return QStringLiteral("c1");
    if (index == 20)
        return QStringLiteral("c2");
    if (index > 20)
        return QString::number(index - 2);
    return QString::number(index);
}

} // namespace device
