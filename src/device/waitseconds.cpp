// SPDX-License-Identifier: MIT
#include "device/waitseconds.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace device {

void waitSeconds(double seconds, Waits *waits)
{
    if (!(seconds > 0))
        return;
    // Anything beyond a day is treated as a day: the timer takes milliseconds in an int.
    const int ms = int(std::ceil(std::min(seconds, 86400.0) * 1000));
    // A timer of its own rather than a single shot: one cut short goes with the wait.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (waits)
        waits->m_loops.append(&loop);
    timer.start(ms);
    loop.exec();
    if (waits)
        waits->m_loops.removeOne(&loop);
}

void Waits::cutShort()
{
    for (QEventLoop *loop : std::as_const(m_loops))
        loop->quit();
}

} // namespace device
