// SPDX-License-Identifier: MIT
#pragma once

#include "port/seriallines.h"
#include "sim/simulatedchip.h"

#include <QByteArray>
#include <array>
#include <chrono>

namespace sim {

// The evaluation board as the serial port sees it: one I2C bus with two chips (A0 = 0 and
// A0 = 1) and pull-ups. DTR asserted pulls SCL low, RTS asserted pulls SDA low, and SDA is a
// wired-AND of the PC and the chips; DSR reads asserted while SDA is low. The port is always open.
class SimulatedBoard : public port::SerialLines
{
public:
    SimulatedBoard() = default;
    Q_DISABLE_COPY_MOVE(SimulatedBoard)

    bool isOpen() const override { return true; }
    void setDtr(bool asserted) override;
    void setRts(bool asserted) override;
    bool dsr() override;
    void writeData(const QByteArray &bytes) override;

    // Every line write from now on, as it left the lines: bit 0 DTR asserted, bit 1 RTS
    // asserted. Off by default, as it grows with every write.
    void keepLineLog(bool on) { m_keepLineLog = on; }
    const QByteArray &lineLog() const { return m_lineLog; }
    void clearLineLog() { m_lineLog.clear(); }

    // Bus levels, true = high.
    bool scl() const { return m_scl; }
    bool sda() const { return m_sda; }

    SimulatedChip &chip(int a0) { return m_chips[a0 & 1]; }
    // The chip is left in the middle of a read, holding SDA low (see SimulatedChip).
    void freezeChipMidRead(int a0);
    const SimulatedChip &chip(int a0) const { return m_chips[a0 & 1]; }
    // An absent chip hears nothing and drives nothing; it keeps its registers meanwhile.
    void setChipPresent(int a0, bool present);

    // The latest bytes written on the transmit data line (up to keptDataBytes), in order. A
    // batch run writes a marker block per file for as long as it runs: the board keeps a bound.
    static constexpr qsizetype keptDataBytes = 4096;
    const QByteArray &dataWritten() const { return m_dataWritten; }

    // How the adapter brings SDA back to the PC: DSR asserted while SDA is low (the board's
    // wiring), no DSR at all (it reads released), a level problem that inverts it, or DSR stuck
    // asserted (as with SDA shorted to ground, or clamped by an unpowered chip).
    enum class DsrWiring { Normal, Missing, Inverted, StuckAsserted };
    void setDsrWiring(DsrWiring wiring) { m_dsrWiring = wiring; }

    // Makes every port operation take at least this long, like a slow adapter. 0 = no delay.
    void setLineDelay(std::chrono::nanoseconds delay) { m_lineDelay = delay; }
    std::chrono::nanoseconds lineDelay() const { return m_lineDelay; }

private:
    bool chipsPullSdaLow() const;
    void settle();
    void showChips();
    void pace() const;
    void logLines();

    std::array<SimulatedChip, 2> m_chips{SimulatedChip(0), SimulatedChip(1)};
    std::array<bool, 2> m_present{true, true};
    bool m_dtr = false;
    bool m_rts = false;
    bool m_scl = true;
    bool m_sda = true;
    QByteArray m_dataWritten;
    std::chrono::nanoseconds m_lineDelay{0};
    DsrWiring m_dsrWiring = DsrWiring::Normal;
    bool m_keepLineLog = false;
    QByteArray m_lineLog;
};

} // namespace sim
