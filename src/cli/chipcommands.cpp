#include "cli/chipcommands.h"

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

// A bus on which nothing answers reads every bit released.
constexpr int silentWord = 0xFFFF;
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
        return burnChannel(command.channel);
    case Kind::OtpAll:
        return burnAll();
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
        status != ExitStatus::Ok)
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
    table += QStringLiteral("Max bank: %1\n").arg(reading.maxBank);
    m_output.result({{QStringLiteral("command"), QStringLiteral("read")},
                     {QStringLiteral("a0"), m_model.a0Pin.toInt()},
                     {QStringLiteral("vsup"), m_model.vsup},
                     {QStringLiteral("channels"), channels},
                     {QStringLiteral("maxBank"), reading.maxBank}},
                    table);
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
    const control::OperationResult loaded = m_operations.loadCodes(m_model.a0Pin, set->codes);
    for (int index = 1; index <= channelCount; ++index) {
        m_model.dacCode[index] = set->codes[std::size_t(index - 1)];
        m_picture[std::size_t(index - 1)] = set->codes[std::size_t(index - 1)];
    }
    if (const ExitStatus status = checkHeard(loaded, QStringLiteral("load"));
        status != ExitStatus::Ok)
        return status;
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
        const control::ChannelReading reading = m_operations.readChannel(m_model.a0Pin, index);
        if (const ExitStatus status = checkHeard(reading, QStringLiteral("get"));
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

ExitStatus ChipCommands::burnChannel(int index)
{
    if (const ExitStatus status = pictureFor({index}); status != ExitStatus::Ok)
        return status;
    const int word = control::BurnReport::codeOnTheWire(*m_picture[std::size_t(index - 1)]);
    m_model.dacCode[index] = word;
    const control::BurnResult burned = m_operations.burnChannel(m_model.a0Pin, index, word);
    if (!burned.portHeld())
        return burnInterrupted(QStringLiteral("otp"), {index}, burned);
    QJsonObject json = channelObject(index, word);
    json.insert(QStringLiteral("command"), QStringLiteral("otp"));
    json.insert(QStringLiteral("maxBank"), burned.maxBank);
    m_output.result(json, QStringLiteral("%1: burned code %2 (hex %3) into OTP, sent the "
                                         "general-call reset; max bank %4\n")
                              .arg(channelTitle(index))
                              .arg(word)
                              .arg(device::shownCode(word))
                              .arg(burned.maxBank));
    return checkHeard(burned, QStringLiteral("otp"));
}

ExitStatus ChipCommands::burnAll()
{
    QList<int> all;
    for (int index = 1; index <= channelCount; ++index)
        all.append(index);
    if (const ExitStatus status = pictureFor(all); status != ExitStatus::Ok)
        return status;
    control::ChannelCodes codes;
    for (int index = 1; index <= channelCount; ++index) {
        const int word = control::BurnReport::codeOnTheWire(*m_picture[std::size_t(index - 1)]);
        m_model.dacCode[index] = word;
        codes[std::size_t(index - 1)] = word;
    }
    const control::BurnResult burned = m_operations.burnAll(m_model.a0Pin, codes);
    if (!burned.portHeld())
        return burnInterrupted(QStringLiteral("otp-all"), all, burned);
    m_output.result({{QStringLiteral("command"), QStringLiteral("otp-all")},
                     {QStringLiteral("a0"), m_model.a0Pin.toInt()},
                     {QStringLiteral("codes"), jsonCodes(codes)},
                     {QStringLiteral("maxBank"), burned.maxBank}},
                    QStringLiteral("Burned the 24 codes into OTP, sent the general-call reset; "
                                   "max bank %1\n")
                        .arg(burned.maxBank));
    return checkHeard(burned, QStringLiteral("otp-all"));
}

ExitStatus ChipCommands::scan()
{
    const std::array<bool, 2> found = m_operations.findChips();
    if (const ExitStatus status = checkPort({}); status != ExitStatus::Ok)
        return status;
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
    const Wiring wiring = m_operations.checkWiring();
    const QString text = control::ChipOperations::wiringText(wiring);
    m_output.result({{QStringLiteral("command"), QStringLiteral("selftest")},
                     {QStringLiteral("wiringFine"), wiring == Wiring::Fine},
                     {QStringLiteral("finding"), text}},
                    text + u'\n');
    return wiring == Wiring::Fine ? ExitStatus::Ok : ExitStatus::WiringFault;
}

// Burned cells cannot be unburned: the user learns exactly which registers the burn reached.
ExitStatus ChipCommands::burnInterrupted(const QString &commandName, const QList<int> &indices,
                                         const control::BurnResult &burned)
{
    const control::BurnReport report(m_model.a0Pin, 0, indices, {}, burned);
    const QList<int> sent = report.burnedChannels();
    const auto names = [](const QList<int> &channels) {
        QJsonArray array;
        for (const int index : channels)
            array.append(device::channelLabel(index));
        return array;
    };
    const QList<int> notSent = indices.mid(sent.size() + (burned.interruptedIndex ? 1 : 0));
    m_output.result({{QStringLiteral("command"), commandName},
                     {QStringLiteral("a0"), m_model.a0Pin.toInt()},
                     {QStringLiteral("burned"), names(sent)},
                     {QStringLiteral("cutOff"),
                      burned.interruptedIndex ? names({burned.interruptedIndex}) : QJsonArray()},
                     {QStringLiteral("notSent"), names(notSent)},
                     {QStringLiteral("portFailure"), burned.portFailure}},
                    {});
    return fail(ExitStatus::BurnInterrupted,
                QStringLiteral("the port failed during the burn: %1\n%2")
                    .arg(burned.portFailure, report.interruptionText()));
}

QList<ChipCommands::ChannelReading>
ChipCommands::readingsOf(const control::ChipReading &reading) const
{
    QList<ChannelReading> readings;
    for (int index = 1; index <= channelCount; ++index)
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

ExitStatus ChipCommands::checkHeard(const control::OperationResult &result,
                                    const QString &operation)
{
    if (const ExitStatus status = checkPort(result); status != ExitStatus::Ok)
        return status;
    if (result.chipAnswered)
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
    return {{QStringLiteral("channel"), device::channelLabel(index)},
            {QStringLiteral("index"), index},
            {QStringLiteral("register"), device::registerOfChannel(index)},
            {QStringLiteral("code"), code},
            {QStringLiteral("hex"), device::shownCode(code)},
            {QStringLiteral("voltage"), device::leadingNumber(voltageText(code))}};
}

// As the main window shows it: full scale above 1023, truncated to whole millivolts.
QString ChipCommands::voltageText(double code) const
{
    return withLeadingZero(device::shownVoltage(m_model.displayedVoltage(code)));
}

ExitStatus ChipCommands::fail(ExitStatus status, const QString &message, const QJsonObject &details)
{
    m_output.failure(status, message, details);
    return status;
}

} // namespace cli
