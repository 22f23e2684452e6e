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
    ChipSilent = 8,      // no chip acknowledged a frame, or no 10-bit code to burn
    BurnInterrupted = 9, // the port failed during a burn: some registers may be burned
    WiringFault = 10,    // selftest: DSR does not follow RTS
};

inline int exitCode(ExitStatus status)
{
    return static_cast<int>(status);
}

} // namespace cli
