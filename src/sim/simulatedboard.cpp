// SPDX-License-Identifier: MIT
#include "sim/simulatedboard.h"

#include <thread>

namespace sim {

namespace {
// Below this a sleep would overshoot by far more than the delay itself; wait on the clock.
constexpr std::chrono::microseconds shortestSleep{50};
} // namespace

void SimulatedBoard::setDtr(bool asserted)
{
    if (m_lineDelay.count() != 0)
        pace();
    m_dtr = asserted;
    logLines();
    settle();
}

void SimulatedBoard::setRts(bool asserted)
{
    if (m_lineDelay.count() != 0)
        pace();
    m_rts = asserted;
    logLines();
    settle();
}

void SimulatedBoard::logLines()
{
    if (m_keepLineLog)
        m_lineLog.append(char((m_dtr ? 1 : 0) | (m_rts ? 2 : 0)));
}

bool SimulatedBoard::dsr()
{
    if (m_lineDelay.count() != 0)
        pace();
    switch (m_dsrWiring) {
    case DsrWiring::Missing:
        return false;
    case DsrWiring::Inverted:
        return m_sda;
    case DsrWiring::StuckAsserted:
        return true;
    case DsrWiring::Normal:
        break;
    }
    return !m_sda;
}

void SimulatedBoard::writeData(const QByteArray &bytes)
{
    if (m_lineDelay.count() != 0)
        pace();
    m_dataWritten.append(bytes);
    if (m_dataWritten.size() > keptDataBytes)
        m_dataWritten.remove(0, m_dataWritten.size() - keptDataBytes);
}

void SimulatedBoard::setChipPresent(int a0, bool present)
{
    const int index = a0 & 1;
    if (m_present[index] == present)
        return;
    m_present[index] = present;
    if (present)
        m_chips[index].joinBus(m_scl, m_sda);
    else
        m_chips[index].leaveBus();
    // A chip that held SDA low lets it go: the other chip hears that like any SDA change.
    settle();
}

void SimulatedBoard::freezeChipMidRead(int a0)
{
    m_chips[a0 & 1].freezeMidRead();
    settle();
}

bool SimulatedBoard::chipsPullSdaLow() const
{
    return (m_present[0] && m_chips[0].isDrivingSdaLow()) ||
           (m_present[1] && m_chips[1].isDrivingSdaLow());
}

void SimulatedBoard::settle()
{
    const bool scl = !m_dtr;
    const bool sda = !m_rts && !chipsPullSdaLow();
    if (scl == m_scl && sda == m_sda)
        return; // a repeated write: nothing moves on the wire
    m_scl = scl;
    m_sda = sda;
    showChips();

    // Chips change their drive only when SCL falls, so at most one more SDA change follows,
    // and it happens with SCL low: data, never a START or STOP.
    const bool settledSda = !m_rts && !chipsPullSdaLow();
    if (settledSda != m_sda) {
        m_sda = settledSda;
        showChips();
    }
}

void SimulatedBoard::showChips()
{
    if (m_present[0])
        m_chips[0].observe(m_scl, m_sda);
    if (m_present[1])
        m_chips[1].observe(m_scl, m_sda);
}

void SimulatedBoard::pace() const
{
    const auto deadline = std::chrono::steady_clock::now() + m_lineDelay;
    if (m_lineDelay >= shortestSleep) {
        std::this_thread::sleep_until(deadline);
        return;
    }
    while (std::chrono::steady_clock::now() < deadline) {
    }
}

} // namespace sim
