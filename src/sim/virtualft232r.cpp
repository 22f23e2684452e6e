// SPDX-License-Identifier: MIT
#include "sim/virtualft232r.h"

#include "port/seriallines.h"

#include <thread>

namespace sim {

using port::BitBangDevice;

port::OpenResult VirtualFt232r::open(quint8 outputPins, quint8 initial, int stepsPerSecond,
                                     QString *)
{
    m_open = true;
    m_outputs = outputPins;
    m_stepsPerSecond = stepsPerSecond;
    m_transferSizes.clear();
    m_steps.clear();
    apply(initial, true);
    return port::OpenResult::Opened;
}

quint8 VirtualFt232r::pins() const
{
    // Inputs read high but for DSR#, which is low while the board holds SDA low.
    quint8 sample = quint8(m_state | ~m_outputs);
    if (m_lines.dsr())
        sample &= quint8(~BitBangDevice::dsrPin);
    return sample;
}

void VirtualFt232r::apply(quint8 state, bool all)
{
    // A pin written 0 is the line asserted; only output pins reach the board, and the board
    // hears only those that change, as a real pin's level does not move otherwise.
    const quint8 changed = all ? quint8(0xFF) : quint8(state ^ m_state);
    m_state = state;
    if (m_outputs & changed & BitBangDevice::dtrPin)
        m_lines.setDtr(!(state & BitBangDevice::dtrPin));
    if (m_outputs & changed & BitBangDevice::rtsPin)
        m_lines.setRts(!(state & BitBangDevice::rtsPin));
}

QByteArray VirtualFt232r::transfer(const QByteArray &states, QString *error)
{
    QByteArray samples;
    if (!m_open || states.size() > m_transferLimit) {
        *error = m_open ? QStringLiteral("transfer too long") : QStringLiteral("not open");
        return samples;
    }
    if (m_latency.count() > 0) {
        const auto clock =
            std::chrono::microseconds(states.size() * 1'000'000LL / std::max(m_stepsPerSecond, 1));
        std::this_thread::sleep_for(m_latency + clock);
    }
    const bool unplugged = m_transfersLeft == 0;
    if (m_transfersLeft > 0)
        --m_transfersLeft;
    m_transferSizes.append(int(states.size()));
    // Cut in the middle: the first half reaches the board, its samples never reach the host.
    const qsizetype steps = unplugged ? states.size() / 2 : states.size();
    for (qsizetype i = 0; i < steps; ++i) {
        samples.append(char(pins()));
        apply(quint8(states[i]), false);
        m_steps.append(states[i]);
    }
    if (unplugged) {
        m_open = false;
        *error = QStringLiteral("the adapter was unplugged");
        return samples;
    }
    return samples;
}

} // namespace sim
