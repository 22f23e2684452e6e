// SPDX-License-Identifier: MIT
#pragma once

#include "control/chipoperations.h"

#include <QList>
#include <QString>
#include <optional>

namespace control {

class UserPrompts;

// What a burn did, told to the user: OTP cells cannot be unburned, so the report opens with what
// happened (nothing burned, interrupted, burned but not verified, verified), then says what was
// sent, what the max bank was before and after (or that it was not read), and every register that
// does not read back the code burned into it (the general-call reset after a burn reloads every
// register from OTP).
class BurnReport
{
public:
    enum class Verdict {
        NothingBurned, // refused before the first OTP write, or none of them went out
        Interrupted,   // the port failed or the bus was held before the bank was closed
        NotVerified,   // burned, but the chip does not say that it holds every code
        Verified
    };

    struct Mismatch
    {
        int index = 0;
        int burned = 0;
        std::optional<int> read; // nothing when the register was not read back
    };

    explicit BurnReport(const BurnResult &result);

    // The register reads back the code the data bits carried (fractions dropped, saturated).
    static int codeOnTheWire(double code);

    const BurnResult &result() const { return m_result; }
    Verdict verdict() const { return m_verdict; }
    bool verified() const { return m_verdict == Verdict::Verified; }
    // The user said no: there is nothing to report.
    bool declined() const { return m_result.refusal == BurnResult::Refusal::NotConfirmed; }

    // One sentence: what happened.
    QString headline() const;
    // The headline, then the details, one per line.
    QString text() const;
    // After a failure mid-burn: which channels were burned, which one was cut off, which not sent.
    QString interruptionText() const;
    QList<int> burnedChannels() const;
    QList<int> notSentChannels() const;
    const QList<Mismatch> &mismatches() const { return m_mismatches; }
    // Why the burn is not verified, one reason a line; empty when it is.
    QStringList doubts() const;
    // Why nothing was burned, or what interrupted the burn.
    QString cause() const;

    // What the window showed before the burn, by channel, and the references that turn codes into
    // voltages: the report then says what the reset changed on the channels not burned.
    void setShownBefore(const ChannelCodes &codes, double vlow, double vsup);
    // The general-call reset reloads both chips from OTP, not only the burned registers: what
    // changed on the channels not burned, and that the other chip was reloaded unseen. Empty
    // when no reset went out.
    QString reloadText() const;

    // Verified as a message, everything else as an error; nothing when the user declined.
    void show(UserPrompts &prompts, const QString &title) const;

private:
    QString whatWasBurned() const;
    QString maxBankLine() const;

    BurnResult m_result;
    std::optional<ChannelCodes> m_shownBefore;
    double m_vlow = 0;
    double m_vsup = 0;
    Verdict m_verdict = Verdict::NothingBurned;
    QList<Mismatch> m_mismatches;
};

// Before a burn from the windows: true when the burn log can take it, or when the user chooses
// to burn without a record after being told why there will be none.
bool burnMayGoAhead(const QString &logProblem, UserPrompts &prompts, const QString &title);

} // namespace control
