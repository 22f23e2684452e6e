// SPDX-License-Identifier: MIT
#include "stack/busstack.h"

#include "device/safefilewriter.h"

#include <QBuffer>
#include <QDir>

namespace stack {

namespace {

bool untraced(QString *error)
{
    if (error)
        *error = QStringLiteral("the bus was not traced");
    return false;
}

} // namespace

BusStack::BusStack(const PortRouting &routing, Tracing tracing)
{
    // A run that died mid-frame (killed, powered off) may have left a chip inside a transfer,
    // holding SDA low: the bus is checked, and cleared, before the first frame on the new port.
    QObject::connect(
        &m_ports, &port::PortManager::portOpened, &m_ports,
        [this] {
            if (m_chip)
                m_chip->checkBus();
        },
        Qt::DirectConnection);
    route(routing);
    if (tracing == Tracing::On)
        startTrace();
    else
        buildBus(m_port);
}

void BusStack::route(const PortRouting &routing)
{
    port::PortMap map = routing.base;
    m_simulatedPort.setLineDelay(routing.simulatedDelay);
    if (routing.simulate)
        map.mapToSimulated(port::PortMap::firstPortNumber, &m_simulatedPort);
    // There is one simulated board: the last wait given for it counts.
    for (const port::PortOverride &entry : routing.overrides) {
        if (entry.virtualAdapter) {
            map.apply(entry, &m_virtualAdapterPort);
            m_virtualAdapter.setTransferLatency(entry.lineDelay);
        } else {
            map.apply(entry, &m_simulatedPort);
            if (entry.simulated)
                m_simulatedPort.setLineDelay(entry.lineDelay);
        }
    }
    m_port.setPortMap(map);
}

void BusStack::startTrace()
{
    if (m_trace)
        return;
    // On the board the levels include what the chips drive; a device only tells what the PC
    // drives and what DSR said, which the trace shows by itself.
    m_trace =
        std::make_unique<trace::BusTrace>(m_port, [this]() -> std::optional<trace::BusLevels> {
            if (!m_simulatedPort.isOpen())
                return std::nullopt;
            return trace::BusLevels{m_board.scl(), m_board.sda()};
        });
    buildBus(m_trace->lines());
}

void BusStack::buildBus(port::SerialLines &lines)
{
    m_chip.reset();
    m_engine = std::make_unique<bus::LineEngine>(lines);
    m_chip = std::make_unique<bus::ChipBus>(*m_engine);
}

void BusStack::setSimulatedFaults(const SimulatedFaults &faults)
{
    faults.applyTo(m_board);
}

bool BusStack::writeTrace(const QString &path, QString *error) const
{
    if (!m_trace)
        return untraced(error);
    // Built whole in memory first: a trace that cannot be written whole leaves an older one as it
    // was, and a FIFO or device at the path is refused rather than written to.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString problem;
    if (!m_trace->writeVcd(buffer, &problem)) {
        if (error) {
            *error = QStringLiteral("Cannot write the trace %1: %2")
                         .arg(QDir::toNativeSeparators(path), problem);
        }
        return false;
    }
    return device::writeFileSafely(path, buffer.data(), error);
}

QString BusStack::traceNote() const
{
    return m_trace ? m_trace->limitNote() : QString();
}

} // namespace stack
