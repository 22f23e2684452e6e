// SPDX-License-Identifier: MIT
#include "app/program.h"

#include "app/demostore.h"
#include "device/paths.h"
#include "device/settingsstore.h"
#include "port/portmanager.h"
#include "version.h"

#include <QFileInfo>
#include <QTimer>
#include <cstdio>

namespace app {

Program::Program(const LaunchOptions &options)
    : m_stack({port::PortMap(), options.simulate, options.portOverrides},
              options.tracePath.isEmpty() ? stack::Tracing::Off : stack::Tracing::On),
      m_tracePath(options.tracePath), m_offeredFile(options.offeredFile),
      m_settings(storeFor(options)), m_portModes(m_stack.mappedPort(), *m_settings),
      m_operations(m_stack.chip(), m_stack.ports(), &m_busThread), m_grid(m_model, m_operations),
      m_controller(m_model, m_grid, m_operations, m_stack.ports(), *m_settings, m_prompts),
      m_status(m_stack.ports(), m_stack.portMap(), m_model, m_prompts),
      m_batchRunner(m_model, m_grid, m_operations),
      m_diagnostics(m_stack.ports(), m_stack.mappedPort(), *m_settings, m_operations),
      m_window({m_model, m_grid, m_operations, m_controller, m_status, m_batchRunner,
                m_stack.ports(), m_stack.portMap(), m_prompts, &m_portModes, &m_diagnostics})
{
    // Before start opens the port (posted by show), so it opens the way the user chose.
    m_portModes.apply();
    m_stack.setSimulatedFaults(options.simFaults);
    m_prompts.setParentWidget(&m_window);
    QObject::connect(&m_operations, &control::ChipOperations::chipHeard, &m_status,
                     &control::StatusLine::chipHeard);
    m_status.setSettingsNote(m_settingsNote);
    QObject::connect(
        &m_stack.ports(), &port::PortManager::portOpened, &m_stack.ports(),
        [this] { m_portOpened = true; }, Qt::DirectConnection);
    // Burns on the simulated board are no record of a real one: they stay beside its settings.
    const control::BurnLog log =
        options.simulate
            ? control::BurnLog(device::joinPath(QFileInfo(m_settings->location()).absolutePath(),
                                                QStringLiteral("simulated-burns.log")))
            : control::BurnLog();
    m_operations.setBurnLog(log, [this] {
        return control::BurnLog::sourceOf(QStringLiteral("kalventa %1.%2.%3")
                                              .arg(version::major)
                                              .arg(version::minor)
                                              .arg(version::revision),
                                          m_stack.portMap(),
                                          m_stack.ports().selection().portNumber);
    });
}

std::unique_ptr<device::SettingsStore> Program::storeFor(const LaunchOptions &options)
{
    if (!options.simulate)
        return std::make_unique<device::SettingsStore>();
    auto store = openSimulatedStore(simulatedStorePath(), &m_volatileFolder, &m_settingsNote);
    if (!m_settingsNote.isEmpty())
        std::fprintf(stderr, "kalventa: %s\n", qPrintable(m_settingsNote));
    return store;
}

bool Program::writeTrace() const
{
    if (!m_stack.trace())
        return true;
    // An older trace at the path stays as it was: this run has nothing to show.
    if (!m_portOpened) {
        std::fprintf(stderr, "kalventa: no port was opened, so nothing went over the bus: no "
                             "trace was written\n");
        return true;
    }
    QString error;
    const bool written = m_stack.writeTrace(m_tracePath, &error);
    if (!written)
        std::fprintf(stderr, "kalventa: %s\n", qPrintable(error));
    const QString note = m_stack.traceNote();
    if (!note.isEmpty())
        std::fprintf(stderr, "kalventa: %s\n", qPrintable(note));
    return written;
}

void Program::show()
{
    m_window.show();
    QTimer::singleShot(0, &m_controller, [this] {
        m_controller.start();
        if (!m_offeredFile.isEmpty())
            m_controller.offerFile(m_offeredFile);
    });
}

} // namespace app
