// SPDX-License-Identifier: MIT
#pragma once

#include "device/registersetfile.h"

#include <QFile>

// Register-set fixtures for the file tests.

inline device::RegisterSet uniformSet(double vsup, double code)
{
    device::RegisterSet set;
    set.vsup = vsup;
    set.codes.fill(code);
    return set;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}
