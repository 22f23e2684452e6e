// SPDX-License-Identifier: MIT
#pragma once

#include "port/comport.h"

#include <chrono>

namespace sim {

class SimulatedBoard;

// The simulated board as a serial port: it opens under any COM number 1 to 16 and never fails.
// Its lines are the board's bus; the data line reaches the board too. Time-outs are kept as a
// real port keeps them, but nothing on the board depends on them.
class SimulatedComPort : public port::ComPort
{
    Q_OBJECT

public:
    explicit SimulatedComPort(SimulatedBoard &board, QObject *parent = nullptr);

    SimulatedBoard &board() const { return m_board; }

    port::OpenResult presence(int) const override { return m_presence; }
    // What a probe finds, to show how a port the user may not open is listed; opening still works.
    void setPresence(port::OpenResult presence) { m_presence = presence; }
    port::OpenResult open(int portNumber, const port::LineSettings &settings) override;
    void close() override { m_openPortNumber = 0; }
    int openPortNumber() const override { return m_openPortNumber; }

    port::PortTimeouts timeouts() const override { return m_timeouts; }
    void setTimeouts(const port::PortTimeouts &timeouts) override { m_timeouts = timeouts; }

    bool isOpen() const override { return m_openPortNumber != 0; }
    void setDtr(bool asserted) override;
    void setRts(bool asserted) override;
    bool dsr() override;
    void writeData(const QByteArray &bytes) override;

    // Pulls the adapter out: the line operation after the next `lineOperations` ones fails, and
    // the port closes and reports the failure as a real one would. Negative: never.
    void unplugAfter(int lineOperations) { m_operationsLeft = lineOperations; }
    // Each line operation takes this long, as on a USB adapter (about 1 ms); 0 for full speed.
    void setLineDelay(std::chrono::microseconds delay) { m_lineDelay = delay; }

private:
    // False, with the port closed and the failure reported, when this operation is the one cut.
    bool lineOperationSurvives();

    SimulatedBoard &m_board;
    int m_openPortNumber = 0;
    port::OpenResult m_presence = port::OpenResult::Opened;
    port::PortTimeouts m_timeouts;
    int m_operationsLeft = -1;
    std::chrono::microseconds m_lineDelay{0};
    std::chrono::steady_clock::time_point m_lineDone;
};

} // namespace sim
