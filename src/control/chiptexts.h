// SPDX-License-Identifier: MIT
#pragma once

#include "bus/chipbus.h"

#include <QCoreApplication>
#include <QString>

namespace control {

// The words the windows and kalventa-cli use about a chip that keeps silent and about the
// wiring, in one place so that every front end says the same.
class ChipTexts
{
    Q_DECLARE_TR_FUNCTIONS(ChipTexts)

public:
    // "no chip answered at A0 = 1", as a message's clause.
    static QString noChipAnswered(const QString &a0);
    // "is the board powered, and is A0 right?"
    static QString poweredAndA0Question();
    // The two as one sentence: "No chip answered at A0 = 1: is the board powered, and is A0
    // right?"
    static QString silentChip(const QString &a0);
    // The text with its first letter in capitals, to begin a sentence.
    static QString sentence(QString text);

    // What a finding of the wiring check means, for the user.
    static QString wiring(bus::ChipBus::Wiring wiring);
};

} // namespace control
