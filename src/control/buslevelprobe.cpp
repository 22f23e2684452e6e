#include "control/buslevelprobe.h"

#include "port/systemcomport.h"
#include "sim/simulatedboard.h"

namespace control {

trace::RecordingLines::LevelProbe busLevelProbe(const port::SystemComPort &port,
                                                const sim::SimulatedBoard &board)
{
    return [&port, &board]() -> std::optional<trace::BusLevels> {
        if (!port.isOpen())
            return std::nullopt;
        const port::PortTarget target = port.portMap().target(port.openPortNumber());
        if (target.kind != port::PortTarget::Kind::Simulated || target.lines != &board)
            return std::nullopt;
        return trace::BusLevels{board.scl(), board.sda()};
    };
}

} // namespace control
