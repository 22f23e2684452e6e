// SPDX-License-Identifier: MIT
#include "wiredecoder.h"

#include <QStringList>

using trace::LineOperation;

QList<WireFrame> decodeFrames(const QList<LineOperation> &operations)
{
    QList<WireFrame> frames;
    bool scl = true;
    bool sda = true;
    bool inFrame = false;
    int bitCount = 0;
    int shift = 0;

    for (const LineOperation &op : operations) {
        if (op.kind != LineOperation::Kind::SetDtr && op.kind != LineOperation::Kind::SetRts)
            continue;
        const bool level = !op.value;
        if (op.kind == LineOperation::Kind::SetDtr) {
            if (!scl && level && inFrame) {
                ++bitCount;
                if (bitCount <= 8) {
                    shift = (shift << 1) | (sda ? 1 : 0);
                } else {
                    frames.last().bytes.append(quint8(shift));
                    frames.last().ninthBits.append(sda);
                    bitCount = shift = 0;
                }
            }
            scl = level;
            continue;
        }
        if (scl && sda && !level) {
            frames.append(WireFrame{});
            inFrame = true;
            bitCount = shift = 0;
        } else if (scl && !sda && level && inFrame) {
            frames.last().stopped = true;
            frames.last().trailingBits = bitCount;
            inFrame = false;
        }
        sda = level;
    }
    return frames;
}

QStringList lineWrites(const QList<LineOperation> &operations)
{
    QStringList writes;
    for (const LineOperation &op : operations) {
        if (op.kind == LineOperation::Kind::SetDtr)
            writes.append(op.value ? QStringLiteral("D1") : QStringLiteral("D0"));
        else if (op.kind == LineOperation::Kind::SetRts)
            writes.append(op.value ? QStringLiteral("R1") : QStringLiteral("R0"));
    }
    return writes;
}
