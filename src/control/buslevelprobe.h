#pragma once

#include "trace/recordinglines.h"

namespace port {
class SystemComPort;
}
namespace sim {
class SimulatedBoard;
}

namespace control {

// The level probe of a bus trace on the program's port: while the port is open on this simulated
// board, the bus levels the board shows (what the chips drive included); otherwise nothing, so
// the trace shows what the PC drives.
trace::RecordingLines::LevelProbe busLevelProbe(const port::SystemComPort &port,
                                                const sim::SimulatedBoard &board);

} // namespace control
