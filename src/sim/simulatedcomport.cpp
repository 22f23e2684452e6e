// SPDX-License-Identifier: MIT
#include "sim/simulatedcomport.h"

#include "port/portmap.h"
#include "sim/simulatedboard.h"

#include <thread>

namespace sim {

SimulatedComPort::SimulatedComPort(SimulatedBoard &board, QObject *parent)
    : port::ComPort(parent), m_board(board)
{}

port::OpenResult SimulatedComPort::open(int portNumber, const port::LineSettings &)
{
    close();
    if (!port::PortMap::isPortNumber(portNumber))
        return port::OpenResult::NotPresent;
    m_openPortNumber = portNumber;
    // Like a real port after its open: both lines released, the bus idle.
    m_board.setDtr(false);
    m_board.setRts(false);
    return port::OpenResult::Opened;
}

bool SimulatedComPort::lineOperationSurvives()
{
    if (!isOpen())
        return false;
    if (m_lineDelay.count() > 0) {
        // Back to back, each operation ends one delay after the previous one; after a pause,
        // one delay after it began. A late wake-up is thus made up by the next wait: it is the
        // adapter's pace that is modelled, not this machine's timer.
        const auto now = std::chrono::steady_clock::now();
        m_lineDone = (now - m_lineDone < m_lineDelay ? m_lineDone : now) + m_lineDelay;
        std::this_thread::sleep_until(m_lineDone);
    }
    if (m_operationsLeft < 0 || m_operationsLeft-- > 0)
        return true;
    const int number = m_openPortNumber;
    close();
    emit failed(number, QStringLiteral("Input/output error"));
    return false;
}

void SimulatedComPort::setDtr(bool asserted)
{
    if (lineOperationSurvives())
        m_board.setDtr(asserted);
}

void SimulatedComPort::setRts(bool asserted)
{
    if (lineOperationSurvives())
        m_board.setRts(asserted);
}

bool SimulatedComPort::dsr()
{
    return lineOperationSurvives() && m_board.dsr();
}

void SimulatedComPort::writeData(const QByteArray &bytes)
{
    if (isOpen())
        m_board.writeData(bytes);
}

} // namespace sim
