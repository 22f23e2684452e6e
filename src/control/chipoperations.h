#pragma once

#include "bus/chipbus.h"
#include "device/devicemodel.h"

#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
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
    // Every frame's address was acknowledged (the general call's by any chip). A frame nobody
    // acknowledged wrote nothing and read 65535.
    bool chipAnswered = true;

    bool portHeld() const { return portFailure.isEmpty(); }
};

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

// What a burn leaves: the reset has closed the bank and reloaded every register from OTP; then
// the max bank and the 24 channel registers were read, in that order.
struct BurnResult : OperationResult
{
    int maxBank = 0;
    ChipReading readBack;
    // When the port fails mid-burn: the OTP writes sent whole before it failed (those registers
    // are burned), and the channel whose write it cut (0 when none was cut: the failure came
    // after the writes). The channels after it were never sent.
    int writesCompleted = 0;
    int interruptedIndex = 0;
};

// Codes of the 24 channels in channel order (index 1 at element 0).
using ChannelCodes = std::array<double, device::channelCount>;

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
    // The user asked the command under way to stop.
    bool stopRequested() const;

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

    // Burns one channel's code into the open OTP bank, then the general-call reset (which
    // closes the bank), the max bank and a read of every channel, which verifies the burn.
    BurnResult burnChannel(const QString &a0Pin, int index, double code);
    // The same for channels 1 to 24 in register order.
    BurnResult burnAll(const QString &a0Pin, const ChannelCodes &codes);

    // The general-call reset: every chip on the bus reloads its registers from OTP.
    OperationResult reset();

    // Which of the two chip addresses answer an address-only frame (element 0: A0 = 0).
    std::array<bool, 2> findChips();
    // Whether DSR follows SDA (driven through RTS with SCL released).
    bus::ChipBus::Wiring checkWiring();
    // What a finding of the wiring check means, for the user.
    static QString wiringText(bus::ChipBus::Wiring wiring);

    // The marker block on the transmit data line, by which an instrument sees where a played
    // file ends.
    void sendMarkerBlock();

signals:
    // done of total steps of the operation under way; what counts them ("registers read").
    void progressed(int done, int total, const QString &what);
    // One DAC register write has ended (the grid writes channels back after a refresh).
    void channelWritten(int index);
    // After every operation on an open port that held: whether the chip answered all of it.
    void chipHeard(bool answered);

private:
    void begin();
    // Notes whether the chip answered the transaction just made; gives that answer.
    bool heard();
    // Runs work as one operation on the bus thread (when there is one). An operation that asks
    // the chip something tells the windows whether it answered; a scan or the wiring check
    // does not.
    enum class Heard { Report, Keep };
    template<typename Work> auto onBus(Work work, Heard heard = Heard::Report);
    void readChannelsInto(const QString &a0Pin, ChipReading &reading, int total,
                          const QString &what);
    OperationResult finish() const;
    BurnResult burn(const QString &a0Pin, const QList<int> &indices, const ChannelCodes &codes);

    bus::ChipBus &m_chip;
    port::PortManager &m_ports;
    BusThread *m_busThread = nullptr;
    QString m_portFailure;     // of the operation under way
    bool m_allAnswered = true; // of the operation under way
};

} // namespace control
