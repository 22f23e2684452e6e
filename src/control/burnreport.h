#pragma once

#include "control/chipoperations.h"

#include <QList>
#include <QString>

namespace control {

class UserPrompts;

// What a burn did, told to the user: OTP cells cannot be unburned, so the program says what it
// sent, what the max bank was before and after, and whether every burned register reads back
// the code burned into it (the general-call reset after a burn reloads every register from OTP).
class BurnReport
{
public:
    // channels: the indices burned, with codes[index - 1] the code each was given.
    BurnReport(const QString &a0Pin, int maxBankBefore, const QList<int> &channels,
               const ChannelCodes &codes, const BurnResult &result);

    // The register reads back the code the data bits carried (fractions dropped, saturated).
    static int codeOnTheWire(double code);
    // When every bank is closed, the chip ignores further burns.
    static bool noBankLeft(int maxBank) { return maxBank >= ChipOperations::otpBankCount; }
    static QString noBankLeftText(const QString &a0Pin, int maxBank);

    bool verified() const;
    // The result for a message box: "Burned ..., Max Bank 0 before, 1 after. ..."
    QString text() const;
    // After a port failure: which channels were burned, which one was cut off, which not sent.
    QString interruptionText() const;
    QList<int> burnedChannels() const;
    // As a message, or as an error when the burn cannot be confirmed.
    void show(UserPrompts &prompts, const QString &title) const;

private:
    struct Mismatch
    {
        int index = 0;
        int burned = 0;
        int read = 0;
    };

    QString m_a0Pin;
    int m_maxBankBefore = 0;
    QList<int> m_channels;
    ChannelCodes m_codes{};
    BurnResult m_result;
    QList<Mismatch> m_mismatches;
};

} // namespace control
