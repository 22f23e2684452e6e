// SPDX-License-Identifier: MIT
#pragma once

#include <QList>

class QEventLoop;

namespace device {

class Waits;

// Returns when the time has passed, serving window events meanwhile: other handlers may run
// inside the wait. It sleeps between events instead of polling the clock. Anything beyond a day
// waits a day. Given `waits`, the wait is one of them until it returns, and their cutShort()
// ends it at once.
void waitSeconds(double seconds, Waits *waits = nullptr);

// The waits under way that one stop ends together. Waits nest (a handler served inside one may
// start another), so there may be several.
class Waits
{
public:
    void cutShort();

private:
    friend void waitSeconds(double seconds, Waits *waits);
    QList<QEventLoop *> m_loops;
};

} // namespace device
