// SPDX-License-Identifier: MIT
#pragma once

#include "cli/clioptions.h"
#include "cli/exitstatus.h"

#include <QString>

namespace cli {

// Why a trace or a saved file could not be written to path, found without touching it: only a
// regular file (or nothing yet) in an existing folder is replaced.
QString writeProblem(const QString &path);

// The first line whose files cannot be used, and why.
struct FileProblem
{
    const ScriptLine *entry = nullptr; // none: every file can be used
    ExitStatus status = ExitStatus::Ok;
    QString message;
};

// Every file a line reads is read and checked first, and every file it writes (the burn log
// among them, unless --no-log) is looked at: a bad one later in a script must not stop it after
// earlier lines have reached the chip. Files are read again when their line runs.
FileProblem firstFileProblem(const CliOptions &options, const QString &burnLogPath);

} // namespace cli
