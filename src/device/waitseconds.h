#pragma once

namespace device {

// Returns when the time has passed, serving window events meanwhile: other handlers may run
// inside the wait. It sleeps between events instead of polling the clock.
void waitSeconds(double seconds);

} // namespace device
