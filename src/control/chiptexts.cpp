// SPDX-License-Identifier: MIT
#include "control/chiptexts.h"

namespace control {

QString ChipTexts::noChipAnswered(const QString &a0)
{
    return tr("no chip answered at A0 = %1").arg(a0);
}

QString ChipTexts::poweredAndA0Question()
{
    return tr("is the board powered, and is A0 right?");
}

QString ChipTexts::silentChip(const QString &a0)
{
    return sentence(noChipAnswered(a0)) + QStringLiteral(": ") + poweredAndA0Question();
}

QString ChipTexts::sentence(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

QString ChipTexts::wiring(bus::ChipBus::Wiring wiring)
{
    switch (wiring) {
    case bus::ChipBus::Wiring::Fine:
        return tr("Wiring fine: DSR follows RTS.");
    case bus::ChipBus::Wiring::StuckLow:
        return tr("SDA stuck low: DSR reads SDA low whatever RTS does, even after a bus clear. "
                  "SDA is shorted to ground, a chip without power clamps it, or DSR is stuck "
                  "asserted. Check the board's power and the SDA wiring.");
    case bus::ChipBus::Wiring::NoEcho:
        return tr("No DSR: DSR never changes and reads SDA high. The adapter has no DSR, or SDA "
                  "is not wired back to it. Nothing can be read on this port.");
    case bus::ChipBus::Wiring::Inverted:
        return tr("DSR is inverted: a wiring or level problem between the adapter and the "
                  "board.");
    case bus::ChipBus::Wiring::Unsteady:
        break;
    }
    return tr("DSR changes but does not follow RTS: a loose contact or interference.");
}

} // namespace control
