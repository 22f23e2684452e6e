// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace cli {

// The files `play` plays, in order: the files as given, or the regular files of one folder in
// the order the batch window lists them (by name, ignoring case, as the user's language sorts).
// Nothing with the reason when a path names neither, or the folder holds no file.
std::optional<QStringList> playListOf(const QStringList &paths, QString *error);

} // namespace cli
