// SPDX-License-Identifier: MIT
#pragma once

#include "control/chipoperations.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace cli {

// How the tool writes registers, channels and numbers on a terminal and in JSON.

// "0x04" for channel 5.
QString hexRegister(int index);
// The program's number text without its leading blank, and with a "0" before a bare point:
// ".498" reads as a typo on a terminal.
QString withLeadingZero(QString text);
QString numberWithoutBlank(double value);
// "channel 5 (register 0x04)"
QString channelText(int index);
// The same, to begin a line.
QString channelTitle(int index);
QJsonArray jsonCodes(const control::ChannelCodes &codes);
// A channel and a code: name, index, register, code and its hexadecimal text.
QJsonObject channelJson(int index, double code);

} // namespace cli
