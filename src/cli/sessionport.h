// SPDX-License-Identifier: MIT
#pragma once

#include "cli/clioptions.h"
#include "control/burnlog.h"
#include "port/portmap.h"
#include "port/portselection.h"
#include "stack/busstack.h"

#include <QString>

namespace device {
class SettingsStore;
}

namespace cli {

class Output;

// The one port a run of the tool uses: where --port (or the port the program stored) leads, with
// the modes chosen for it, how messages and the burn log name it, and the table of `ports`.
class SessionPort
{
public:
    // The options are the run's, read whenever the port is routed.
    SessionPort(stack::BusStack &stack, device::SettingsStore &settings, const CliOptions &options);

    // The table the port names start from. Tests point every COM number away from real devices.
    void setBaseMap(const port::PortMap &map) { m_baseMap = map; }
    // The port and bit rate the program stored.
    void setStored(const port::PortSelection &stored) { m_stored = stored; }

    // Routes the port map for the options and gives the COM number chosen.
    int route();
    // Routes and opens the chosen port, and only that one: probing the others would toggle the
    // lines of whatever hangs on them. Why it could not be opened; empty once it is open.
    QString open();
    // Who burns on the port opened, for the burn log.
    control::BurnSource burnSource() const;
    // `ports`: every COM number, where it leads and how it answered the probe.
    void list(Output &output);

private:
    void applyModes(int number);
    QString portText(int number) const;

    stack::BusStack &m_stack;
    device::SettingsStore &m_settings;
    const CliOptions &m_options;
    port::PortMap m_baseMap;
    port::PortSelection m_stored; // the port and bit rate the program stored
    int m_opened = 0;             // the COM number open() chose
};

} // namespace cli
