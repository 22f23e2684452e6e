// SPDX-License-Identifier: MIT
#pragma once

namespace cli {

// What the tool's exit status tells a calling script. The numbers are part of the interface:
// they are listed in --help and in the manual page.
enum class ExitStatus {
    Ok = 0,
    Usage = 2,           // unknown command or option, a bad argument or channel name
    BadInputFile = 3,    // a register-set or script file missing, unreadable or malformed
    PortUnavailable = 4, // absent, busy, not permitted, or failed during use
    BurnRefused = 5,     // an OTP command without --yes
    CannotWrite = 6,     // the file of save or --trace cannot be written
    SettingsUnreadable = 7,
    ChipSilent = 8,       // no chip acknowledged a frame, or no 10-bit code to burn
    BurnInterrupted = 9,  // the port failed (or SDA was held) during a burn: some may be burned
    WiringFault = 10,     // selftest: DSR does not follow RTS
    SdaHeld = 11,         // SDA stayed low through a bus clear: nothing went over the bus
    NoBankLeft = 12,      // every OTP bank is closed: nothing was burned
    BurnNotVerified = 13, // burned, but a register does not hold its code or the bank did not close
    Differs = 14,         // verify or --verify: a register does not hold the code expected
    // Stopped by a signal, as shells report it: 128 + the signal's number.
    Hangup = 129,
    Interrupted = 130,
    Terminated = 143,
};

inline int exitCode(ExitStatus status)
{
    return static_cast<int>(status);
}

// SIGHUP, SIGINT and SIGTERM; Ok for anything else.
ExitStatus statusForSignal(int signalNumber);
// "SIGINT" and the like.
const char *signalName(int signalNumber);

} // namespace cli
