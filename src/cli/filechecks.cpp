// SPDX-License-Identifier: MIT
#include "cli/filechecks.h"

#include "cli/playlist.h"
#include "control/burnlog.h"
#include "device/registersetfile.h"
#include "device/regularfile.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>

namespace cli {

namespace {

QString problemOf(const Command &command, const CliOptions &options, const QString &burnLogPath)
{
    QString error;
    switch (command.kind) {
    case Command::Kind::Load:
    case Command::Kind::Verify:
        if (!device::readRegisterSetFile(command.path, &error))
            return error;
        break;
    case Command::Kind::Play: {
        const std::optional<QStringList> files = playListOf(command.paths, &error);
        if (!files)
            return error;
        for (const QString &path : *files) {
            if (!device::readRegisterSetFile(path, &error))
                return error;
        }
        break;
    }
    case Command::Kind::Save:
        if (const QString problem = writeProblem(command.path); !problem.isEmpty()) {
            return QStringLiteral("cannot save to %1: %2")
                .arg(QDir::toNativeSeparators(command.path), problem);
        }
        break;
    case Command::Kind::Diagnose:
        if (command.path.isEmpty())
            break;
        if (const QString problem = writeProblem(command.path); !problem.isEmpty()) {
            return QStringLiteral("cannot write the diagnostics to %1: %2")
                .arg(QDir::toNativeSeparators(command.path), problem);
        }
        break;
    case Command::Kind::Otp:
    case Command::Kind::OtpAll:
        if (options.noLog)
            break;
        if (const QString problem = control::BurnLog(burnLogPath).writeProblem();
            !problem.isEmpty()) {
            return QStringLiteral("the burn log %1 cannot be written (%2), so nothing was "
                                  "burned; --no-log burns without it")
                .arg(QDir::toNativeSeparators(burnLogPath), problem);
        }
        break;
    default:
        break;
    }
    return {};
}

} // namespace

QString writeProblem(const QString &path)
{
    const device::FileCheck file = device::checkFile(path);
    if (file.kind != device::FileKind::Missing && file.kind != device::FileKind::Regular)
        return file.problem;
    if (!QFileInfo(path).absoluteDir().exists())
        return QStringLiteral("the folder does not exist");
    return {};
}

FileProblem firstFileProblem(const CliOptions &options, const QString &burnLogPath)
{
    // A file an earlier line saves is there by the time a later one reads it.
    QStringList saved;
    const auto savedBefore = [&saved](const QString &path) {
        return saved.contains(QFileInfo(path).absoluteFilePath());
    };
    for (const ScriptLine &entry : options.commands) {
        const Command &command = entry.command;
        if (command.kind == Command::Kind::Save)
            saved.append(QFileInfo(command.path).absoluteFilePath());
        if (!command.path.isEmpty() && command.kind != Command::Kind::Save &&
            savedBefore(command.path))
            continue;
        if (std::any_of(command.paths.cbegin(), command.paths.cend(), savedBefore))
            continue;
        const QString problem = problemOf(entry.command, options, burnLogPath);
        if (problem.isEmpty())
            continue;
        const Command::Kind kind = entry.command.kind;
        const ExitStatus status =
            kind == Command::Kind::Save || kind == Command::Kind::Diagnose || entry.command.burns()
                ? ExitStatus::CannotWrite
                : ExitStatus::BadInputFile;
        return {&entry, status, problem};
    }
    return {};
}

} // namespace cli
