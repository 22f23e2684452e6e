#pragma once

#include "cli/exitstatus.h"

#include <QJsonObject>

namespace control {
class BurnReport;
}

namespace cli {

// How the tool reports a burn to a calling program: the exit status its outcome calls for, and
// its JSON object (the burn log's: the max bank before and after, null where it was not read,
// what was sent, cut off or not sent, and every register that does not hold its code).
ExitStatus burnExitStatus(const control::BurnReport &report);
QJsonObject burnJson(const control::BurnReport &report);

} // namespace cli
