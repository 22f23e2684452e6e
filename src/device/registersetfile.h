// SPDX-License-Identifier: MIT
#pragma once

#include "device/devicemodel.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

class QIODevice;

namespace device {

// A register set: the high reference and the 24 codes in register order. On disk: 25 records,
// one plain decimal number per line, CR LF after each ("10", then "512" 24 times).
struct RegisterSet
{
    double vsup = 0;
    std::array<double, channelCount> codes{};
};

// Reading takes values one after the other, each ending at a comma or a line end, blanks
// around a value ignored; only the first 25 values count. Everything is checked before the
// caller sees anything: a short file or a value that is not a number gives an error that names
// the line and the value.
std::optional<RegisterSet> parseRegisterSet(QIODevice &input, QString *error);
// As parseRegisterSet, with the file's path in the message, and unreadable files reported. Only
// a regular file of at most 1 MiB is read (see readRegularFile): a FIFO or a device is refused
// without blocking.
std::optional<RegisterSet> readRegisterSetFile(const QString &path, QString *error);

QByteArray formatRegisterSet(const RegisterSet &set);
// Replaces the file as writeFileSafely does: on failure the old file is left as it was.
bool writeRegisterSetFile(const QString &path, const RegisterSet &set, QString *error);

} // namespace device
