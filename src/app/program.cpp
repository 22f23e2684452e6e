#include "app/program.h"

#include "app/demostore.h"

#include <QTimer>
#include <cstdio>

namespace app {

Program::Program(const LaunchOptions &options)
    : m_comPort(portMapFor(options, &m_simulatedPort)), m_ports(m_comPort),
      m_tracePath(options.tracePath),
      m_trace(m_tracePath.isEmpty() ? nullptr
                                    : std::make_unique<trace::BusTrace>(
                                          m_comPort, control::busLevelProbe(m_simulatedPort))),
      m_engine(m_trace ? m_trace->lines() : static_cast<port::SerialLines &>(m_comPort)),
      m_chip(m_engine), m_settings(storeFor(options)),
      m_controller(m_model, m_ports, m_chip, *m_settings, m_prompts),
      m_window(m_controller, m_comPort.portMap(), m_prompts)
{
    m_prompts.setParentWidget(&m_window);
}

port::PortMap Program::portMapFor(const LaunchOptions &options, port::ComPort *simulated)
{
    port::PortMap map;
    if (options.simulate)
        map.mapToSimulated(1, simulated);
    for (const port::PortOverride &entry : options.portOverrides)
        map.apply(entry, simulated);
    return map;
}

std::unique_ptr<device::SettingsStore> Program::storeFor(const LaunchOptions &options)
{
    if (!options.simulate)
        return std::make_unique<device::SettingsStore>();
    const QString path = simulatedStorePath();
    QString error;
    if (!seedSimulatedStore(path, &error))
        std::fprintf(stderr, "kalventa: %s\n", qPrintable(error));
    return std::make_unique<device::SettingsStore>(path);
}

bool Program::writeTrace() const
{
    if (!m_trace)
        return true;
    QString error;
    const bool written = m_trace->writeVcd(m_tracePath, &error);
    if (!written)
        std::fprintf(stderr, "kalventa: %s\n", qPrintable(error));
    const QString note = m_trace->limitNote();
    if (!note.isEmpty())
        std::fprintf(stderr, "kalventa: %s\n", qPrintable(note));
    return written;
}

void Program::show()
{
    m_window.show();
    QTimer::singleShot(0, &m_controller, &control::MainController::start);
}

} // namespace app
