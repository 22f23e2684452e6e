// SPDX-License-Identifier: MIT
#include "cli/burnoutput.h"

#include "control/burnreport.h"

namespace cli {

namespace {

using Refusal = control::BurnResult::Refusal;
using Verdict = control::BurnReport::Verdict;

} // namespace

ExitStatus burnExitStatus(const control::BurnReport &report)
{
    const control::BurnResult &burned = report.result();
    switch (report.verdict()) {
    case Verdict::Verified:
        return ExitStatus::Ok;
    case Verdict::NotVerified:
        return ExitStatus::BurnNotVerified;
    case Verdict::Interrupted:
        return ExitStatus::BurnInterrupted;
    case Verdict::NothingBurned:
        break;
    }
    switch (burned.refusal) {
    case Refusal::NoBankLeft:
        return ExitStatus::NoBankLeft;
    case Refusal::ChipSilent:
    case Refusal::MaxBankInvalid:
        return ExitStatus::ChipSilent;
    case Refusal::NoPort:
    case Refusal::PortFailed:
        return ExitStatus::PortUnavailable;
    case Refusal::BusHeld:
    case Refusal::NotConfirmed:
    case Refusal::None:
        break;
    }
    return burned.portHeld() ? ExitStatus::SdaHeld : ExitStatus::PortUnavailable;
}

} // namespace cli
