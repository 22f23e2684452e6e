#include "control/buslevelprobe.h"

#include "sim/simulatedboard.h"
#include "sim/simulatedcomport.h"

namespace control {

trace::RecordingLines::LevelProbe busLevelProbe(const sim::SimulatedComPort &port)
{
    return [&port]() -> std::optional<trace::BusLevels> {
        if (!port.isOpen())
            return std::nullopt;
        return trace::BusLevels{port.board().scl(), port.board().sda()};
    };
}

} // namespace control
