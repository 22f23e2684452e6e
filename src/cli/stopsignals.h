// SPDX-License-Identifier: MIT
#pragma once

namespace cli {

// SIGINT, SIGTERM and SIGHUP as a request to stop, for as long as this object lives: the run ends
// after the frame under way with the bus idle, says what was done, writes its trace and exits as
// shells expect (128 + the signal). A burn cannot be stopped; a signal during one only says so.
// SIGPIPE is ignored meanwhile, so that a reader gone away cannot cut a burn in half either.
class StopSignals
{
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // The first signal received, 0 while none was.
    static int received();
    // While a burn runs, a signal is answered on the error stream.
    static void setBurning(bool burning);
};

} // namespace cli
