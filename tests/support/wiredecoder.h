// SPDX-License-Identifier: MIT
#pragma once

#include "trace/recordinglines.h"

#include <QList>

// Reads recorded DTR/RTS writes the way an I2C analyser reads SCL and SDA as the PC drives them
// (DTR asserted = SCL low, RTS asserted = SDA low): START and STOP, then nine clocks per byte.
// It knows nothing of the engine, so tests can state expected bytes straight from examples.
struct WireFrame
{
    QList<quint8> bytes;   // the first eight bits of each nine-clock group, as the PC drove them
    QList<bool> ninthBits; // the ninth bit of each group as the PC drove it (true = released)
    bool stopped = false;  // ended by a STOP (rather than by a new START or the end)
    int trailingBits = 0;  // clocks after the last whole group (a STOP's own clock)
};

QList<WireFrame> decodeFrames(const QList<trace::LineOperation> &operations);

// Only the line writes, in order, as text: "D1" DTR asserted, "R0" RTS released, ...
QStringList lineWrites(const QList<trace::LineOperation> &operations);
