// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace sim {
class SimulatedBoard;
}

namespace stack {

// Faults the simulated board can be given, for the tests and for users who want to see what the
// program says when a board misbehaves: "--sim-fault NAME" in both programs, repeatable.
struct SimulatedFaults
{
    bool dsrStuck = false;         // dsr-stuck: DSR reads SDA low whatever the bus does
    std::optional<int> frozenChip; // frozen-read[=A0]: that chip starts stuck inside a read
    QList<int> deadCells;          // dead-cell=CH: the channels whose OTP cell ignores burns
    bool bankStaysOpen = false;    // bank-stays-open: a reset does not close the OTP bank

    // Takes one fault as the option names it; false, with the reason in *error, when it names
    // none.
    bool add(const QString &text, QString *error);
    bool isEmpty() const;
    // Faults a board's chips can have are given to both of them.
    void applyTo(sim::SimulatedBoard &board) const;

    // The faults, one per line, for --help.
    static QString helpText(int indent);
};

} // namespace stack
