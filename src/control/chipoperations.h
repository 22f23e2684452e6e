// SPDX-License-Identifier: MIT
#pragma once

#include "bus/chipbus.h"
#include "control/burnlog.h"
#include "device/devicemodel.h"

#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <optional>

namespace port {
class PortManager;
}

namespace control {

class BusThread;

// How an operation ended on the port. A port that fails mid-operation is closed by the port
// layer; the rest of the operation then runs on no port and touches nothing.
struct OperationResult
{
    QString portFailure;    // empty when the port held throughout
    bool cancelled = false; // the user stopped it between two transactions
    // SDA stayed low through a bus clear: the frame that met it was not sent (or, on an adapter
    // that sends whole frames, counts for nothing), and nothing was answered from then on.
    bool busHeld = false;
    // Every byte of every frame was acknowledged (the general call's by any chip). A frame not
    // acknowledged whole wrote nothing, and one nobody answered read 65535.
    bool chipAnswered = true;

    bool portHeld() const { return portFailure.isEmpty(); }
};

// What the bus said to an operation, for the windows' status bar.
enum class Hearing { Answered, Silent, SdaHeld };

// The 24 channel registers, in channel order (index 1 at element 0), and the max bank.
struct ChipReading : OperationResult
{
    std::array<int, device::channelCount> words{};
    int maxBank = 0;
    // Channels 1 to registersRead were read whole; a port failure ends the reading there.
    int registersRead = 0;
    // Which of those the chip answered; a register nobody answered is not known.
    std::array<bool, device::channelCount> answered{};
    bool maxBankAnswered = false;

    int word(int index) const { return words[std::size_t(index - 1)]; }
    bool wasRead(int index) const
    {
        return index <= registersRead && answered[std::size_t(index - 1)];
    }
};

struct ChannelReading : OperationResult
{
    int word = 0;
};

// Which chips answer their address alone (element 0: A0 = 0).
struct ChipScan : OperationResult
{
    std::array<bool, 2> found{};
};

struct WiringCheck : OperationResult
{
    bus::ChipBus::Wiring wiring = bus::ChipBus::Wiring::Fine;
};

// Codes of the 24 channels in channel order (index 1 at element 0).
using ChannelCodes = std::array<double, device::channelCount>;

// Everything a burn asked for, found and did. It reads the max bank first and burns nothing when
// no bank is left, no chip answers or the bus is held; otherwise it sends the OTP writes, the
// general-call reset that closes the bank and reloads every register from OTP, then reads the
// max bank and the 24 channel registers, in that order.
struct BurnResult : OperationResult
{
    // Why nothing was burned; None once the OTP writes began.
    enum class Refusal {
        None,
        NoPort,         // no port open
        PortFailed,     // the port failed while the max bank was read
        BusHeld,        // SDA stayed low
        ChipSilent,     // no chip answered for the max bank
        MaxBankInvalid, // the max bank reads what no chip gives (in maxBankBefore)
        NoBankLeft,     // every bank is closed: the chip would ignore the burn
        NotConfirmed    // the user said no
    };

    // What was asked: the channels in the order burned, codes[index - 1] each one's code.
    QString a0Pin;
    QList<int> channels;
    ChannelCodes codes{};

    Refusal refusal = Refusal::None;
    // Each as read from a chip that answered; nothing when it was not read.
    std::optional<int> maxBankBefore;
    std::optional<int> maxBankAfter;
    // The OTP writes sent whole before the port failed or the bus was found held (those cells
    // may be burned), and the channel whose write went out but was cut (0 when none was: the
    // failure came between writes or after them). The channels after it were never sent.
    int writesCompleted = 0;
    int interruptedIndex = 0;
    // Channels whose OTP write the chip did not acknowledge whole: it took no burn there.
    QList<int> unacknowledged;
    bool resetSent = false;     // the general-call reset went out whole
    bool resetAnswered = false; // and a chip acknowledged both its bytes
    ChipReading readBack;
    // The burn log took the burn; else why not (empty without a log).
    bool logged = false;
    QString logError;

    bool started() const { return refusal == Refusal::None; }
    // The writes stopped early, or the reset and read-back did not run to their end.
    bool interrupted() const { return started() && (!portHeld() || busHeld); }
};

// Every whole chip operation of the program: the windows, the batch runner and the command-line
// tool all come here, so the sequence on the wire is written once. Operations take what they
// need (A0, codes) as arguments and return what they found; the model is the caller's. Each one
// runs to its end, reports progress as it goes and says whether the port held. Given a bus
// thread, each transaction runs there and reads and loads stop early when the user cancels;
// without one (the command-line tool) everything runs in the caller's thread.
class ChipOperations : public QObject
{
    Q_OBJECT

public:
    // OTP banks of the chip: with all of them closed, it ignores further burns.
    static constexpr int otpBankCount = 3;

    ChipOperations(bus::ChipBus &chip, port::PortManager &ports, BusThread *busThread = nullptr,
                   QObject *parent = nullptr);

    BusThread *busThread() const { return m_busThread; }
    // A transaction is on the bus: a write asked for now comes from an event served meanwhile.
    bool transactionUnderWay() const;
    bool portOpen() const;
    // The user asked the command under way to stop: the bus thread's cancel, or what check says
    // (the command-line tool's signals).
    bool stopRequested() const;
    void setStopCheck(std::function<bool()> check) { m_stopCheck = std::move(check); }

    // The DAC register of one channel (1 to 24).
    ChannelReading readChannel(const QString &a0Pin, int index);
    // The 24 channel registers in register order; the max bank is left unread.
    ChipReading readChannels(const QString &a0Pin);
    // The 24 channel registers in register order, then the max bank.
    ChipReading readAll(const QString &a0Pin);
    // The max bank register: the number of closed OTP banks.
    ChannelReading readMaxBank(const QString &a0Pin);

    // One DAC register write; codes saturate to 0..1023 on the wire.
    OperationResult writeChannel(const QString &a0Pin, int index, double code);
    // Writes channels 1 to 24 in order, until cancelled. afterEach runs once each channel has
    // been written, saying whether the chip answered: the windows refresh their grid there,
    // which may write channels again.
    OperationResult loadCodes(const QString &a0Pin, const ChannelCodes &codes,
                              const std::function<void(int index, bool answered)> &afterEach = {});

    // The one way to burn, for every front end: the max bank, then (unless the burn is refused)
    // confirm, which the caller uses to ask the user and which sees what was found; then the OTP
    // writes of channels (in the order given, each with codes[index - 1]) into the open bank, the
    // general-call reset, the max bank and a read of every channel. BurnReport says what it did.
    // Never cancelled: a burn stopped half-way would leave a bank part burned and still open.
    using BurnConfirmation = std::function<bool(const BurnResult &found)>;
    BurnResult burn(const QString &a0Pin, const QList<int> &channels, const ChannelCodes &codes,
                    const BurnConfirmation &confirm = {});
    static QList<int> allChannels();
    // Every burn but one the user declined (or one without a port) goes into this log, as this
    // source; without a log nothing is logged.
    void setBurnLog(std::optional<BurnLog> log, std::function<BurnSource()> source);
    const std::optional<BurnLog> &burnLog() const { return m_burnLog; }
    // Why the log cannot take a burn now; empty when it can, or when there is no log.
    QString burnLogProblem() const;

    // The general-call reset: every chip on the bus reloads its registers from OTP.
    OperationResult reset();

    // Which of the two chip addresses answer an address-only frame.
    ChipScan findChips();
    // Whether DSR follows SDA (driven through RTS with SCL released).
    WiringCheck checkWiring();

    // The marker block on the transmit data line, by which an instrument sees where a played
    // file ends.
    void sendMarkerBlock();

signals:
    // done of total steps of the operation under way; what counts them ("registers read").
    void progressed(int done, int total, const QString &what);
    // One DAC register write has ended (the grid writes channels back after a refresh).
    void channelWritten(int index);
    // After every operation on an open port that held: whether the chip answered all of it, or
    // SDA was held low.
    void chipHeard(control::Hearing hearing);

private:
    // Every operation starts here. On an adapter that sends whole frames the bus is checked
    // before the first frame (when asked); false when it is held, and then the operation sends
    // nothing.
    enum class BusCheck { Yes, No };
    bool begin(BusCheck check = BusCheck::Yes);
    // A closed port (none was open, or it failed earlier) is a port failure of the operation
    // under way, for those that would otherwise take its silence for an answer.
    bool notePortClosed();
    // Notes how the bus answered the transaction just made; gives whether the chip answered.
    bool heard();
    // The port failed or the bus is held: nothing more of the operation can reach a chip.
    bool failed() const { return !m_portFailure.isEmpty() || m_busHeld; }
    template<typename Result> Result &finishInto(Result &result) const;
    // Runs work as one operation on the bus thread (when there is one). An operation that asks
    // the chip something tells the windows whether it answered; a scan or the wiring check
    // does not.
    enum class Heard { Report, Keep };
    template<typename Work> auto onBus(Work work, Heard heard = Heard::Report);
    // A burn's read-back belongs to the burn, which is never stopped.
    enum class Stop { Allowed, Never };
    void readChannelsInto(const QString &a0Pin, ChipReading &reading, int total,
                          const QString &what, Stop stop = Stop::Allowed);
    OperationResult finish() const;
    OperationResult writeChannelChecked(const QString &a0Pin, int index, double code,
                                        BusCheck check);
    void burnNow(BurnResult &result);
    BurnResult runBurn(const QString &a0Pin, const QList<int> &channels, const ChannelCodes &codes,
                       const BurnConfirmation &confirm);
    void logBurn(BurnResult &result) const;

    bus::ChipBus &m_chip;
    port::PortManager &m_ports;
    BusThread *m_busThread = nullptr;
    QString m_portFailure;     // of the operation under way
    bool m_allAnswered = true; // of the operation under way
    bool m_busHeld = false;    // of the operation under way
    // What the log last said of the chip: only a change is news.
    std::optional<Hearing> m_loggedHearing;
    std::function<bool()> m_stopCheck;
    std::optional<BurnLog> m_burnLog;
    std::function<BurnSource()> m_burnSource;
};

} // namespace control
