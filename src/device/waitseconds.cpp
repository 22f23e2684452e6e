#include "device/waitseconds.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace device {

void waitSeconds(double seconds)
{
    if (!(seconds > 0))
        return;
    // Anything beyond a day is treated as a day: the timer takes milliseconds in an int.
    const int ms = int(std::ceil(std::min(seconds, 86400.0) * 1000));
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace device
