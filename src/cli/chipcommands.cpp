#include "cli/chipcommands.h"

#include "cli/burnoutput.h"
#include "cli/channeltext.h"
#include "cli/output.h"
#include "control/burnreport.h"
#include "device/devicemodel.h"
#include "device/numbertext.h"
#include "device/registersetfile.h"

#include <QDir>
#include <QJsonArray>
#include <algorithm>

namespace cli {

namespace {

using device::channelCount;
using Kind = Command::Kind;

constexpr int silentWord = bus::ChipBus::silentWord;
constexpr int largestCode = 1023;

} // namespace

ChipCommands::ChipCommands(control::ChipOperations &operations, device::DeviceModel &model,
                           Output &output)
    : m_operations(operations), m_model(model), m_output(output)
{}

ExitStatus ChipCommands::execute(const Command &command)
{
    switch (command.kind) {
    case Kind::Read:
        return readAll();
    case Kind::Get:
        return getChannel(command.channel);
    case Kind::Code:
        return writeCode(command.channel, command.code, QStringLiteral("code"), {}, {});
    case Kind::Set:
        return setVoltage(command.channel, command.volts);
    case Kind::Load:
        return loadFile(command);
    case Kind::Save:
        return saveFile(command.path);
    case Kind::Reset:
        return resetChip();
    case Kind::Otp:
        return burn(QStringLiteral("otp"), {command.channel});
    case Kind::OtpAll:
        return burn(QStringLiteral("otp-all"), control::ChipOperations::allChannels());
    case Kind::Scan:
        return scan();
    case Kind::SelfTest:
        return selfTest();
    case Kind::Ports:
    case Kind::Script:
        break;
    }
    return fail(ExitStatus::Usage, QStringLiteral("a script cannot run inside a script"));
}

ExitStatus ChipCommands::readAll()
{
    const control::ChipReading reading = m_operations.readAll(m_model.a0Pin);
    if (const ExitStatus status = checkHeard(reading, QStringLiteral("read"));
        status != ExitStatus::Ok && !reading.cancelled)
        return status;
    const QList<ChannelReading> readings = readingsOf(reading);

    QJsonArray channels;
    QString table = QStringLiteral("A0 = %1, Vsup = %2 V\n")
                        .arg(m_model.a0Pin, numberWithoutBlank(m_model.vsup));
    table += QStringLiteral("Channel  Register  Code   Hex  Voltage\n");
    for (const auto &[index, word] : readings) {
        channels.append(channelObject(index, word));
        table += QStringLiteral("%1  %2  %3  %4  %5\n")
                     .arg(device::channelLabel(index), 7)
                     .arg(hexRegister(index), 8)
                     .arg(word, 5)
                     .arg(device::shownCode(word), 4)
                     .arg(voltageText(word), 7);
    }
    QJsonObject json{{QStringLiteral("command"), QStringLiteral("read")},
                     {QStringLiteral("a0"), m_model.a0Pin.toInt()},
                     {QStringLiteral("vsup"), m_model.vsup},
                     {QStringLiteral("channels"), channels}};
    if (reading.cancelled) {
        // What was read before the stop is shown; the rest was not read.
        m_output.textOnly(table);
        return stopped(QStringLiteral("after reading %1 of the 24 channel registers")
                           .arg(reading.registersRead),
                       json);
    }
    table += QStringLiteral("Max bank: %1\n").arg(reading.maxBank);
    json.insert(QStringLiteral("maxBank"), reading.maxBank);
    m_output.result(json, table);
    if (reading.maxBank == silentWord) {
        return fail(ExitStatus::ChipSilent,
                    QStringLiteral("no chip answered at A0 = %1: the max bank read %2")
                        .arg(m_model.a0Pin)
                        .arg(reading.maxBank));
    }
    return checkAnswered(readings);
}

ExitStatus ChipCommands::getChannel(int index)
{
    const control::ChannelReading reading = m_operations.readChannel(m_model.a0Pin, index);
    if (const ExitStatus status = checkHeard(reading, QStringLiteral("get"));
        status != ExitStatus::Ok)
        return status;
    const int word = reading.word;
    QJsonObject json = channelObject(index, word);
    json.insert(QStringLiteral("command"), QStringLiteral("get"));
    json.insert(QStringLiteral("a0"), m_model.a0Pin.toInt());
    json.insert(QStringLiteral("vsup"), m_model.vsup);
    m_output.result(json, QStringLiteral("%1: code %2 (hex %3), %4 V\n")
                              .arg(channelTitle(index))
                              .arg(word)
                              .arg(device::shownCode(word), voltageText(word)));
    return checkAnswered({{index, word}});
}

// One DAC register write; a code of 1024 (full scale) goes out as 1023.
ExitStatus ChipCommands::writeCode(int index, int code, const QString &commandName,
                                   const QJsonObject &extra, const QString &prefix)
{
    m_model.dacCode[index] = code;
    m_picture[std::size_t(index - 1)] = code;
    const control::OperationResult written = m_operations.writeChannel(m_model.a0Pin, index, code);
    if (const ExitStatus status = checkHeard(written, commandName); status != ExitStatus::Ok)
        return status;

    const int sent = std::min(code, largestCode);
    QJsonObject json = channelObject(index, code);
    json.insert(QStringLiteral("command"), commandName);
    json.insert(QStringLiteral("sent"), sent);
    for (auto it = extra.begin(); it != extra.end(); ++it)
        json.insert(it.key(), it.value());
    const QString codeText =
        code == sent ? QStringLiteral("code %1 (hex %2)").arg(code).arg(device::shownCode(code))
                     : QStringLiteral("code %1 (full scale, sent as %2)").arg(code).arg(sent);
    m_output.result(json, QStringLiteral("%1: %2wrote %3, %4 V\n")
                              .arg(channelTitle(index), prefix, codeText, voltageText(code)));
    return ExitStatus::Ok;
}

// The register grid's conversion: clamped into [vlow, vsup], then rounded half up to a code.
ExitStatus ChipCommands::setVoltage(int index, double volts)
{
    const double clamped = std::clamp(volts, m_model.vlow, m_model.vsup);
    const int code = int(m_model.codeOfVoltage(volts));
    const QString prefix =
        clamped == volts ? QString()
                         : QStringLiteral("%1 V is outside 0 to %2 V, set to %3 V; ")
                               .arg(numberWithoutBlank(volts), numberWithoutBlank(m_model.vsup),
                                    numberWithoutBlank(clamped));
    return writeCode(
        index, code, QStringLiteral("set"),
        {{QStringLiteral("requested"), volts}, {QStringLiteral("clamped"), clamped != volts}},
        prefix);
}

// The whole file is checked before the first write, so a bad file sends nothing.
ExitStatus ChipCommands::loadFile(const Command &command)
{
    const QString &path = command.path;
    QString error;
    const std::optional<device::RegisterSet> set =
        command.registerSet ? command.registerSet : device::readRegisterSetFile(path, &error);
    if (!set)
        return fail(ExitStatus::BadInputFile, error);
    int written = 0;
    const control::OperationResult loaded = m_operations.loadCodes(
        m_model.a0Pin, set->codes, [&written](int index, bool) { written = index; });
    for (int index = 1; index <= written; ++index) {
        m_model.dacCode[index] = set->codes[std::size_t(index - 1)];
        m_picture[std::size_t(index - 1)] = set->codes[std::size_t(index - 1)];
    }
    if (const ExitStatus status = checkHeard(loaded, QStringLiteral("load"));
        status != ExitStatus::Ok)
        return status;
    if (loaded.cancelled) {
        return stopped(written == 0
                           ? QStringLiteral("before the first channel of %1 was written")
                                 .arg(QDir::toNativeSeparators(path))
                           : QStringLiteral("after writing channels %1 to %2 of %3; the others "
                                            "keep their codes")
                                 .arg(device::channelLabel(1), device::channelLabel(written),
                                      QDir::toNativeSeparators(path)),
                       {{QStringLiteral("command"), QStringLiteral("load")},
                        {QStringLiteral("file"), path},
                        {QStringLiteral("channelsWritten"), written}});
    }
    // As in the main window, the file's Vsup is the one in use from now on.
    m_model.vsup = set->vsup;

    m_output.result({{QStringLiteral("command"), QStringLiteral("load")},
                     {QStringLiteral("file"), path},
                     {QStringLiteral("vsup"), set->vsup},
                     {QStringLiteral("codes"), jsonCodes(set->codes)}},
                    QStringLiteral("Loaded %1: Vsup %2 V, wrote the 24 channels\n")
                        .arg(QDir::toNativeSeparators(path), numberWithoutBlank(set->vsup)));
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::saveFile(const QString &path)
{
    const control::ChipReading reading = m_operations.readChannels(m_model.a0Pin);
    if (const ExitStatus status = checkHeard(reading, QStringLiteral("save"));
        status != ExitStatus::Ok)
        return status;
    if (reading.cancelled) {
        return stopped(
            QStringLiteral("before all registers were read; %1 was not written")
                .arg(QDir::toNativeSeparators(path)),
            {{QStringLiteral("command"), QStringLiteral("save")}, {QStringLiteral("file"), path}});
    }
    // Words of a silent bus would replace a good file with nothing but full scale.
    if (const ExitStatus status = checkAnswered(readingsOf(reading)); status != ExitStatus::Ok)
        return status;

    device::RegisterSet set;
    set.vsup = m_model.vsup;
    std::copy(reading.words.begin(), reading.words.end(), set.codes.begin());
    QString error;
    if (!device::writeRegisterSetFile(path, set, &error))
        return fail(ExitStatus::CannotWrite, error);
    m_output.result({{QStringLiteral("command"), QStringLiteral("save")},
                     {QStringLiteral("file"), path},
                     {QStringLiteral("vsup"), set.vsup},
                     {QStringLiteral("codes"), jsonCodes(set.codes)}},
                    QStringLiteral("Saved %1: Vsup %2 V and the 24 codes read from the chip\n")
                        .arg(QDir::toNativeSeparators(path), numberWithoutBlank(set.vsup)));
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::resetChip()
{
    if (const ExitStatus status = checkHeard(m_operations.reset(), QStringLiteral("reset"));
        status != ExitStatus::Ok)
        return status;
    m_output.result({{QStringLiteral("command"), QStringLiteral("reset")}},
                    QStringLiteral("Sent the general-call reset\n"));
    return ExitStatus::Ok;
}

// Codes this session has not set are read from the chip once: what it outputs is what is burned.
ExitStatus ChipCommands::pictureFor(const QList<int> &indices)
{
    QList<ChannelReading> readings;
    for (const int index : indices) {
        if (m_picture[std::size_t(index - 1)])
            continue;
        if (stopSignal() != 0) {
            return stopped(QStringLiteral("while the codes to burn were read; nothing was burned"),
                           {{QStringLiteral("command"), QStringLiteral("otp")}});
        }
        const control::ChannelReading reading = m_operations.readChannel(m_model.a0Pin, index);
        if (const ExitStatus status =
                checkHeard(reading, QStringLiteral("the read before the burn"));
            status != ExitStatus::Ok)
            return status;
        readings.append({index, reading.word});
    }
    if (const ExitStatus status = checkBurnable(readings); status != ExitStatus::Ok)
        return status;
    for (const ChannelReading &reading : std::as_const(readings))
        m_picture[std::size_t(reading.index - 1)] = reading.word;
    return ExitStatus::Ok;
}

// Burned cells cannot be unburned: the burn goes through the program's one burn policy, and the
// user learns exactly what was sent and what the chip now holds.
ExitStatus ChipCommands::burn(const QString &commandName, const QList<int> &indices)
{
    if (const ExitStatus status = pictureFor(indices); status != ExitStatus::Ok)
        return status;
    control::ChannelCodes codes{};
    for (const int index : indices) {
        const int word = control::BurnReport::codeOnTheWire(*m_picture[std::size_t(index - 1)]);
        m_model.dacCode[index] = word;
        codes[std::size_t(index - 1)] = word;
    }
    // A stop asked for before the burn is committed is taken: nothing is burned then. From the
    // commitment on, a signal only hears that the burn is finishing.
    bool committed = false;
    const control::BurnResult burned = m_operations.burn(
        m_model.a0Pin, indices, codes, [this, &committed](const control::BurnResult &) {
            if (stopSignal() != 0)
                return false;
            committed = true;
            if (m_burning)
                m_burning(true);
            return true;
        });
    if (committed && m_burning)
        m_burning(false);
    const control::BurnReport report(burned);
    QJsonObject json = burnJson(commandName, report);
    if (report.declined())
        return stopped(QStringLiteral("before the burn; nothing was burned"), json);
    if (report.verified()) {
        m_output.result(json, report.text() + u'\n');
        return ExitStatus::Ok;
    }
    return fail(burnExitStatus(report), report.text(), json);
}

ExitStatus ChipCommands::scan()
{
    const control::ChipScan scan = m_operations.findChips();
    if (const ExitStatus status = checkPort(scan); status != ExitStatus::Ok)
        return status;
    if (scan.busHeld) {
        return fail(ExitStatus::SdaHeld,
                    QStringLiteral("no chip can answer: %1").arg(sdaHeldText()),
                    {{QStringLiteral("command"), QStringLiteral("scan")},
                     {QStringLiteral("a0"), QJsonArray{false, false}}});
    }
    const std::array<bool, 2> &found = scan.found;
    QString text;
    for (int a0 = 0; a0 <= 1; ++a0) {
        text += found[std::size_t(a0)] ? QStringLiteral("A0 = %1: a chip answered\n").arg(a0)
                                       : QStringLiteral("A0 = %1: no answer\n").arg(a0);
    }
    m_output.result({{QStringLiteral("command"), QStringLiteral("scan")},
                     {QStringLiteral("a0"), QJsonArray{found[0], found[1]}}},
                    text);
    if (found[0] || found[1])
        return ExitStatus::Ok;
    return fail(ExitStatus::ChipSilent,
                QStringLiteral("no chip answered at either address: is the board powered, and "
                               "does the adapter bring DSR out? Try selftest"));
}

ExitStatus ChipCommands::selfTest()
{
    using Wiring = bus::ChipBus::Wiring;
    const control::WiringCheck check = m_operations.checkWiring();
    if (const ExitStatus status = checkPort(check); status != ExitStatus::Ok)
        return status;
    const QString text = control::ChipOperations::wiringText(check.wiring);
    m_output.result({{QStringLiteral("command"), QStringLiteral("selftest")},
                     {QStringLiteral("wiringFine"), check.wiring == Wiring::Fine},
                     {QStringLiteral("finding"), text}},
                    text + u'\n');
    return check.wiring == Wiring::Fine ? ExitStatus::Ok : ExitStatus::WiringFault;
}

QList<ChipCommands::ChannelReading>
ChipCommands::readingsOf(const control::ChipReading &reading) const
{
    QList<ChannelReading> readings;
    for (int index = 1; index <= reading.registersRead; ++index)
        readings.append({index, reading.word(index)});
    return readings;
}

ExitStatus ChipCommands::checkPort(const control::OperationResult &result)
{
    if (result.portHeld())
        return ExitStatus::Ok;
    return fail(ExitStatus::PortUnavailable,
                QStringLiteral("the port failed during use: %1").arg(result.portFailure));
}

QString ChipCommands::sdaHeldText()
{
    return QStringLiteral("SDA is held low, and a bus clear (nine clocks and a STOP) did not free "
                          "it: a chip without power, a short on SDA, or DSR stuck (selftest "
                          "tells which)");
}

ExitStatus ChipCommands::checkHeard(const control::OperationResult &result,
                                    const QString &operation)
{
    if (const ExitStatus status = checkPort(result); status != ExitStatus::Ok)
        return status;
    if (result.busHeld) {
        return fail(ExitStatus::SdaHeld,
                    QStringLiteral("%1 did not reach the chip: %2").arg(operation, sdaHeldText()),
                    {{QStringLiteral("command"), operation},
                     {QStringLiteral("cause"), QStringLiteral("SDA held low")}});
    }
    if (result.chipAnswered || result.cancelled)
        return ExitStatus::Ok;
    return fail(ExitStatus::ChipSilent,
                QStringLiteral("no chip answered at A0 = %1 during %2: is the board powered, and "
                               "is A0 right? (scan finds the chips)")
                    .arg(m_model.a0Pin, operation),
                {{QStringLiteral("unanswered"), operation}});
}

// A register that reads every bit released was not driven by any chip.
ExitStatus ChipCommands::checkAnswered(const QList<ChannelReading> &readings)
{
    for (const ChannelReading &reading : readings) {
        if (reading.word == silentWord) {
            return fail(ExitStatus::ChipSilent,
                        QStringLiteral("no chip answered at A0 = %1: %2 read %3")
                            .arg(m_model.a0Pin, channelText(reading.index))
                            .arg(reading.word));
        }
    }
    return ExitStatus::Ok;
}

// What the chip gives above bit 9 is its own business, but such a word is not burned: the data
// bits would cut it to 1023, which the channel never showed.
ExitStatus ChipCommands::checkBurnable(const QList<ChannelReading> &readings)
{
    if (const ExitStatus status = checkAnswered(readings); status != ExitStatus::Ok)
        return status;
    for (const ChannelReading &reading : readings) {
        if (reading.word > largestCode) {
            return fail(ExitStatus::ChipSilent,
                        QStringLiteral("%1 read %2, which is no 10-bit code to burn")
                            .arg(channelText(reading.index))
                            .arg(reading.word));
        }
    }
    return ExitStatus::Ok;
}

QJsonObject ChipCommands::channelObject(int index, double code) const
{
    QJsonObject json = channelJson(index, code);
    json.insert(QStringLiteral("voltage"), device::leadingNumber(voltageText(code)));
    return json;
}

// As the main window shows it: full scale above 1023, truncated to whole millivolts.
QString ChipCommands::voltageText(double code) const
{
    return withLeadingZero(device::shownVoltage(m_model.displayedVoltage(code)));
}

int ChipCommands::stopSignal() const
{
    return m_stopSignal ? m_stopSignal() : 0;
}

ExitStatus ChipCommands::stopped(const QString &what, const QJsonObject &details)
{
    const int signal = stopSignal();
    QJsonObject json = details;
    json.insert(QStringLiteral("stoppedBy"), QString::fromLatin1(signalName(signal)));
    return fail(statusForSignal(signal),
                QStringLiteral("stopped by %1 %2; the bus is idle")
                    .arg(QString::fromLatin1(signalName(signal)), what),
                json);
}

ExitStatus ChipCommands::fail(ExitStatus status, const QString &message, const QJsonObject &details)
{
    m_output.failure(status, message, details);
    return status;
}

} // namespace cli
