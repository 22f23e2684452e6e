// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

// File names on Linux are bytes, and not every name is valid UTF-8 (a name from an old Latin-1
// system, a damaged archive). Qt's own conversion turns each byte it cannot decode into U+FFFD,
// so such a file can no longer be opened by the name it was listed under. These conversions keep
// every byte: valid text is UTF-8 (the file-name encoding Qt uses on Linux), and each byte that is
// not valid UTF-8 becomes a lone surrogate U+DC80..U+DCFF and back into the same byte.
namespace device {

// A name from the system (argv, a directory entry) as the program holds it.
QString decodeFileName(const QByteArray &bytes);
// The bytes the system knows the name by. Every name from decodeFileName gives its bytes back.
QByteArray encodeFileName(const QString &name);
// A name as messages show it: native separators, each kept byte shown as U+FFFD.
QString shownFileName(const QString &name);

} // namespace device
