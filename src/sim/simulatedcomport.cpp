#include "sim/simulatedcomport.h"

#include "port/portmap.h"
#include "sim/simulatedboard.h"

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

void SimulatedComPort::setDtr(bool asserted)
{
    if (isOpen())
        m_board.setDtr(asserted);
}

void SimulatedComPort::setRts(bool asserted)
{
    if (isOpen())
        m_board.setRts(asserted);
}

bool SimulatedComPort::dsr()
{
    return isOpen() && m_board.dsr();
}

void SimulatedComPort::writeData(const QByteArray &bytes)
{
    if (isOpen())
        m_board.writeData(bytes);
}

} // namespace sim
