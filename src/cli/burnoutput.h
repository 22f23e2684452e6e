// SPDX-License-Identifier: MIT
#pragma once

#include "cli/exitstatus.h"

namespace control {
class BurnReport;
}

namespace cli {

// The exit status a burn's outcome calls for. Its JSON object is the burn log's
// (control::BurnLog::burnObject).
ExitStatus burnExitStatus(const control::BurnReport &report);

} // namespace cli
