#pragma once

#include "trace/recordinglines.h"

namespace sim {
class SimulatedComPort;
}

namespace control {

// The level probe of a bus trace on the program's port: while the simulated board's port is
// open, the bus levels the board shows (what the chips drive included); otherwise nothing, so
// the trace shows what the PC drives.
trace::RecordingLines::LevelProbe busLevelProbe(const sim::SimulatedComPort &port);

} // namespace control
