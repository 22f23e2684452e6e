// SPDX-License-Identifier: MIT
#pragma once

#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "port/mappedcomport.h"
#include "port/portmanager.h"
#include "port/portmap.h"
#include "sim/simulatedboard.h"
#include "sim/simulatedcomport.h"
#include "sim/virtualft232r.h"
#include "stack/simulatedfaults.h"
#include "trace/bustrace.h"

#include <QList>
#include <QString>
#include <memory>

class QIODevice;

namespace stack {

// Where the COM numbers lead.
struct PortRouting
{
    // The table the choices below start from: the system's default one, unless a test points
    // the numbers away from real devices.
    port::PortMap base;
    bool simulate = false;                       // the simulated board at COM1
    QList<port::PortOverride> overrides;         // COMn=PATH or COMn=sim, applied in order after it
    std::chrono::microseconds simulatedDelay{0}; // the board's wait per line operation
};

// Whether the stack records the bus for a VCD file from the start.
enum class Tracing { Off, On };

// Everything between the chip transactions and the serial port, built in one place for the
// program, the command-line tool and the tests: the simulated board and its port, the real port,
// the router between them, the port routines, an optional bus trace, the line engine and the
// chip. Members are built in this order and torn down in reverse.
class BusStack
{
public:
    explicit BusStack(const PortRouting &routing = {}, Tracing tracing = Tracing::Off);
    Q_DISABLE_COPY_MOVE(BusStack)

    // Takes effect at the next open.
    void route(const PortRouting &routing);
    const port::PortMap &portMap() const { return m_port.portMap(); }

    port::PortManager &ports() { return m_ports; }
    bus::ChipBus &chip() { return *m_chip; }
    sim::SimulatedBoard &board() { return m_board; }
    // Gives the simulated board the faults asked for (before its port opens: a chip frozen
    // mid-read is frozen now).
    void setSimulatedFaults(const SimulatedFaults &faults);
    sim::SimulatedComPort &simulatedPort() { return m_simulatedPort; }
    // The board behind a virtual FT232R in bit-bang mode ("sim-ft232r").
    sim::VirtualFt232r &virtualAdapter() { return m_virtualAdapter; }
    port::BitBangComPort &virtualAdapterPort() { return m_virtualAdapterPort; }
    port::MappedComPort &mappedPort() { return m_port; }
    // Why the last open was refused, or the open port went wrong; empty after a clean open.
    QString portError() const { return m_port.lastError(); }

    // Records every line operation from now on. The engine and the chip are built anew on the
    // recording, so call it before anything holds on to chip().
    void startTrace();
    const trace::BusTrace *trace() const { return m_trace.get(); }
    // False with the reason when the recording cannot be written; a file is replaced whole or
    // not at all.
    bool writeTrace(const QString &path, QString *error) const;
    // Says what a long recording dropped; empty when it kept everything.
    QString traceNote() const;

private:
    void buildBus(port::SerialLines &lines);

    sim::SimulatedBoard m_board;
    sim::SimulatedComPort m_simulatedPort{m_board};
    sim::VirtualFt232r m_virtualAdapter{m_board};
    port::BitBangComPort m_virtualAdapterPort{m_virtualAdapter};
    port::MappedComPort m_port;
    port::PortManager m_ports{m_port};
    std::unique_ptr<trace::BusTrace> m_trace;
    std::unique_ptr<bus::LineEngine> m_engine;
    std::unique_ptr<bus::ChipBus> m_chip;
};

} // namespace stack
