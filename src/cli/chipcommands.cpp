#include "cli/chipcommands.h"

#include "cli/burnoutput.h"
#include "cli/channeltext.h"
#include "cli/output.h"
#include "cli/playlist.h"
#include "control/burnlog.h"
#include "control/burnreport.h"
#include "control/chiptexts.h"
#include "device/devicemodel.h"
#include "device/numbertext.h"
#include "device/registersetfile.h"
#include "port/portmanager.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <algorithm>

namespace cli {

namespace {

using device::channelCount;
using Kind = Command::Kind;

constexpr int silentWord = bus::ChipBus::silentWord;
constexpr int largestCode = 1023;

QJsonValue orNull(const std::optional<int> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue orNull(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// Full scale goes out as 1023.
int wireCode(double code)
{
    return control::BurnReport::codeOnTheWire(code);
}

} // namespace

ChipCommands::ChipCommands(control::ChipOperations &operations, device::DeviceModel &model,
                           Output &output)
    : m_operations(operations), m_model(model), m_output(output)
{}

void ChipCommands::setStopSignal(std::function<int()> received)
{
    m_stopSignal = std::move(received);
    m_operations.setStopCheck([this] { return !m_holdStops && stopSignal() != 0; });
}

ExitStatus ChipCommands::execute(const Command &command)
{
    m_commandName = commandName(command.kind);
    // The general call, the scan and the self-test address no chip of their own.
    m_addressesChip = command.kind != Kind::Reset && command.kind != Kind::Scan &&
                      command.kind != Kind::SelfTest && command.kind != Kind::Marker &&
                      command.kind != Kind::Play;
    switch (command.kind) {
    case Kind::Read:
        return readAll();
    case Kind::Get:
        return getChannel(command.channel);
    case Kind::Code:
        return writeCode(command.channel, command.code, command.verify, {}, {});
    case Kind::Set:
        return setVoltage(command.channel, command.volts, command.verify);
    case Kind::Load:
        return loadFile(command);
    case Kind::Save:
        return saveFile(command.path);
    case Kind::Verify:
        return verifyFile(command.path);
    case Kind::Reset:
        return resetChip();
    case Kind::Otp:
        return burn({command.channel});
    case Kind::OtpAll:
        return burn(control::ChipOperations::allChannels());
    case Kind::Scan:
        return scan();
    case Kind::SelfTest:
        return selfTest();
    case Kind::Marker:
        return sendMarker();
    case Kind::Play:
        m_addressesChip = true;
        return play(command);
    case Kind::Ports:
    case Kind::Script:
    case Kind::Sleep:
    case Kind::Burns:
    case Kind::Help:
        break;
    }
    return fail(ExitStatus::Usage,
                QStringLiteral("%1 does not use the bus").arg(commandName(command.kind)));
}

ExitStatus ChipCommands::readAll()
{
    const control::ChipReading reading = m_operations.readAll(m_model.a0Pin);
    if (const ExitStatus status = checkHeard(reading, QStringLiteral("read"));
        status != ExitStatus::Ok && !reading.cancelled)
        return status;
    const QList<ChannelReading> readings = readingsOf(reading);
    hintUnknownVsup();

    QJsonArray channels;
    QString table = QStringLiteral("A0 = %1, Vsup = %2\n")
                        .arg(m_model.a0Pin, m_model.vsup > m_model.vlow
                                                ? numberWithoutBlank(m_model.vsup) + " V"
                                                : QStringLiteral("unknown"));
    table += QStringLiteral("Channel  Register  Code   Hex  Voltage\n");
    for (const auto &[index, word] : readings) {
        channels.append(channelObject(index, {double(word), {}, {}, {}}));
        table += QStringLiteral("%1  %2  %3  %4  %5\n")
                     .arg(device::channelLabel(index), 7)
                     .arg(hexRegister(index), 8)
                     .arg(word, 5)
                     .arg(device::shownCode(word), 4)
                     .arg(voltageText(word), 7);
    }
    QJsonObject json{{QStringLiteral("channels"), channels},
                     {QStringLiteral("maxBank"), QJsonValue::Null}};
    if (reading.cancelled) {
        // What was read before the stop is shown; the rest was not read.
        m_output.textOnly(table);
        return stopped(QStringLiteral("after reading %1 of the 24 channel registers")
                           .arg(reading.registersRead),
                       json);
    }
    table += QStringLiteral("Max bank: %1\n").arg(reading.maxBank);
    json.insert(QStringLiteral("maxBank"), reading.maxBank);
    QString problem = silentProblem(readings);
    if (reading.maxBank == silentWord)
        problem = QStringLiteral("no chip answered at A0 = %1: the max bank read %2")
                      .arg(m_model.a0Pin)
                      .arg(reading.maxBank);
    if (!problem.isEmpty()) {
        m_output.textOnly(table);
        return fail(ExitStatus::ChipSilent, problem, json);
    }
    report(json, table);
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::getChannel(int index)
{
    const control::ChannelReading reading = m_operations.readChannel(m_model.a0Pin, index);
    if (const ExitStatus status = checkHeard(reading, QStringLiteral("get"));
        status != ExitStatus::Ok)
        return status;
    hintUnknownVsup();
    const int word = reading.word;
    const QJsonObject json{
        {QStringLiteral("channels"), QJsonArray{channelObject(index, {double(word), {}, {}, {}})}}};
    const QString text = QStringLiteral("%1: code %2 (hex %3), %4\n")
                             .arg(channelTitle(index))
                             .arg(word)
                             .arg(device::shownCode(word), voltageText(word));
    if (const QString problem = silentProblem({{index, word}}); !problem.isEmpty()) {
        m_output.textOnly(text);
        return fail(ExitStatus::ChipSilent, problem, json);
    }
    report(json, text);
    return ExitStatus::Ok;
}

// One DAC register write; a code of 1024 (full scale) goes out as 1023.
ExitStatus ChipCommands::writeCode(int index, int code, bool verify, QJsonObject json,
                                   const QString &prefix)
{
    m_model.dacCode[index] = code;
    m_picture[std::size_t(index - 1)] = code;
    const control::OperationResult written = m_operations.writeChannel(m_model.a0Pin, index, code);
    if (const ExitStatus status = checkHeard(written, QString()); status != ExitStatus::Ok)
        return status;
    hintUnknownVsup();

    const int sent = std::min(code, largestCode);
    control::ChannelCodes sentCodes{};
    sentCodes[std::size_t(index - 1)] = sent;
    QList<ChannelReading> readings;
    const ExitStatus checked = verify ? readBack({index}, sentCodes, readings) : ExitStatus::Ok;
    if (checked != ExitStatus::Ok && readings.isEmpty())
        return checked;

    ChannelFacts facts{double(code), sent, {}, {}};
    if (!readings.isEmpty())
        facts.readBack = readings.first().word;
    json.insert(QStringLiteral("channels"), QJsonArray{channelObject(index, facts)});
    json.insert(QStringLiteral("verified"),
                verify ? QJsonValue(checked == ExitStatus::Ok) : QJsonValue(QJsonValue::Null));
    const QString codeText =
        code == sent ? QStringLiteral("code %1 (hex %2)").arg(code).arg(device::shownCode(code))
                     : QStringLiteral("code %1 (full scale, sent as %2)").arg(code).arg(sent);
    QString text = QStringLiteral("%1: %2wrote %3, %4\n")
                       .arg(channelTitle(index), prefix, codeText, voltageText(code));
    if (checked != ExitStatus::Ok) {
        m_output.textOnly(text);
        return fail(checked, differenceText({index}, sentCodes, readings), json);
    }
    if (verify)
        text += QStringLiteral("Read back: the register holds it\n");
    report(json, text);
    return ExitStatus::Ok;
}

// The register grid's conversion: clamped into [vlow, vsup], then rounded half up to a code.
ExitStatus ChipCommands::setVoltage(int index, double volts, bool verify)
{
    const double clamped = std::clamp(volts, m_model.vlow, m_model.vsup);
    const int code = int(m_model.codeOfVoltage(volts));
    const QString prefix =
        clamped == volts ? QString()
                         : QStringLiteral("%1 V is outside 0 to %2 V, set to %3 V; ")
                               .arg(numberWithoutBlank(volts), numberWithoutBlank(m_model.vsup),
                                    numberWithoutBlank(clamped));
    return writeCode(
        index, code, verify,
        {{QStringLiteral("requested"), volts}, {QStringLiteral("clamped"), clamped != volts}},
        prefix);
}

std::optional<ChipCommands::LoadedSet> ChipCommands::loadedSet(const QString &path,
                                                               QString *error) const
{
    const std::optional<device::RegisterSet> set = device::readRegisterSetFile(path, error);
    if (!set)
        return std::nullopt;
    // The window takes a file's values through the text it shows for them, at the file's Vsup.
    device::DeviceModel fileModel = m_model;
    fileModel.vsup = set->vsup;
    LoadedSet loaded{*set, {}};
    for (std::size_t i = 0; i < loaded.codes.size(); ++i)
        loaded.codes[i] = fileModel.loadedCode(set->codes[i]);
    return loaded;
}

control::OperationResult ChipCommands::writeSet(const LoadedSet &loaded, int &written)
{
    written = 0;
    const control::OperationResult result = m_operations.loadCodes(
        m_model.a0Pin, loaded.codes, [&written](int index, bool) { written = index; });
    for (int index = 1; index <= written; ++index) {
        m_model.dacCode[index] = loaded.codes[std::size_t(index - 1)];
        m_picture[std::size_t(index - 1)] = loaded.codes[std::size_t(index - 1)];
    }
    return result;
}

// The whole file is read and checked before the first write, so a bad file sends nothing; it is
// read when the line runs, so a script acts on the file as an earlier line left it.
ExitStatus ChipCommands::loadFile(const Command &command)
{
    const QString &path = command.path;
    QString error;
    const std::optional<LoadedSet> loaded = loadedSet(path, &error);
    if (!loaded)
        return fail(ExitStatus::BadInputFile, error, {{QStringLiteral("file"), path}});
    int written = 0;
    const control::OperationResult result = writeSet(*loaded, written);
    const auto channelsUpTo = [&](int last, const QList<ChannelReading> &readings) {
        QJsonArray channels;
        for (int index = 1; index <= last; ++index) {
            const double code = loaded->codes[std::size_t(index - 1)];
            ChannelFacts facts{code, wireCode(code), loaded->set.codes[std::size_t(index - 1)], {}};
            if (index <= readings.size())
                facts.readBack = readings.at(index - 1).word;
            channels.append(channelObject(index, facts));
        }
        return channels;
    };
    if (const ExitStatus status = checkHeard(result, QString()); status != ExitStatus::Ok)
        return status;
    if (result.cancelled) {
        return stopped(
            written == 0
                ? QStringLiteral("before the first channel of %1 was written").arg(nativePath(path))
                : QStringLiteral("after writing channels %1 to %2 of %3; the others "
                                 "keep their codes")
                      .arg(device::channelLabel(1), device::channelLabel(written),
                           nativePath(path)),
            {{QStringLiteral("file"), path},
             {QStringLiteral("channels"), channelsUpTo(written, {})}});
    }
    // As in the main window, the file's Vsup is the one in use from now on.
    m_model.vsup = loaded->set.vsup;

    control::ChannelCodes sent{};
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = wireCode(loaded->codes[i]);
    QList<ChannelReading> readings;
    const ExitStatus checked =
        command.verify ? readBack(control::ChipOperations::allChannels(), sent, readings)
                       : ExitStatus::Ok;
    if (checked != ExitStatus::Ok && readings.isEmpty())
        return checked;
    const QJsonObject json{{QStringLiteral("file"), path},
                           {QStringLiteral("channels"), channelsUpTo(channelCount, readings)},
                           {QStringLiteral("verified"), command.verify
                                                            ? QJsonValue(checked == ExitStatus::Ok)
                                                            : QJsonValue(QJsonValue::Null)}};
    if (checked != ExitStatus::Ok)
        return fail(checked, differenceText(control::ChipOperations::allChannels(), sent, readings),
                    json);
    report(json, QStringLiteral("Loaded %1: Vsup %2 V, wrote the 24 channels%3\n")
                     .arg(nativePath(path), numberWithoutBlank(loaded->set.vsup),
                          command.verify ? QStringLiteral("; read back, all hold their codes")
                                         : QString()));
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::saveFile(const QString &path)
{
    const control::ChipReading reading = m_operations.readChannels(m_model.a0Pin);
    if (const ExitStatus status = checkHeard(reading, QStringLiteral("save"));
        status != ExitStatus::Ok)
        return status;
    if (reading.cancelled) {
        return stopped(QStringLiteral("before all registers were read; %1 was not written")
                           .arg(nativePath(path)),
                       {{QStringLiteral("file"), path}});
    }
    // Words of a silent bus would replace a good file with nothing but full scale.
    const QList<ChannelReading> readings = readingsOf(reading);
    if (const QString problem = silentProblem(readings); !problem.isEmpty())
        return fail(ExitStatus::ChipSilent, problem, {{QStringLiteral("file"), path}});

    device::RegisterSet set;
    set.vsup = m_model.vsup;
    std::copy(reading.words.begin(), reading.words.end(), set.codes.begin());
    QString error;
    if (!device::writeRegisterSetFile(path, set, &error))
        return fail(ExitStatus::CannotWrite, error, {{QStringLiteral("file"), path}});
    QJsonArray channels;
    for (const auto &[index, word] : readings)
        channels.append(channelObject(index, {double(word), {}, {}, {}}));
    report({{QStringLiteral("file"), path}, {QStringLiteral("channels"), channels}},
           QStringLiteral("Saved %1: Vsup %2 V and the 24 codes read from the chip\n")
               .arg(nativePath(path), numberWithoutBlank(set.vsup)));
    return ExitStatus::Ok;
}

// What the chip holds against what loading the file leaves on it, at the file's Vsup.
ExitStatus ChipCommands::verifyFile(const QString &path)
{
    QString error;
    const std::optional<LoadedSet> loaded = loadedSet(path, &error);
    if (!loaded)
        return fail(ExitStatus::BadInputFile, error, {{QStringLiteral("file"), path}});
    const control::ChipReading reading = m_operations.readChannels(m_model.a0Pin);
    if (const ExitStatus status = checkHeard(reading, QStringLiteral("verify"));
        status != ExitStatus::Ok)
        return status;
    device::DeviceModel fileModel = m_model;
    fileModel.vsup = loaded->set.vsup;
    const QList<ChannelReading> readings = readingsOf(reading);
    QJsonArray channels;
    QJsonArray differing;
    QString lines;
    for (const auto &[index, word] : readings) {
        const double fileValue = loaded->set.codes[std::size_t(index - 1)];
        const int expected = wireCode(loaded->codes[std::size_t(index - 1)]);
        channels.append(channelObject(index, {double(word), {}, fileValue, {}}, fileModel));
        if (word == expected)
            continue;
        differing.append(device::channelLabel(index));
        lines +=
            QStringLiteral("  %1: chip %2 (%3 V), file %4 (%5 V)\n")
                .arg(channelText(index), QStringLiteral("0x") + device::shownCode(word),
                     withLeadingZero(device::shownVoltage(fileModel.displayedVoltage(word))),
                     QStringLiteral("0x") + device::shownCode(expected),
                     withLeadingZero(device::shownVoltage(fileModel.displayedVoltage(expected))));
    }
    QJsonObject json{{QStringLiteral("file"), path},
                     {QStringLiteral("vsup"), loaded->set.vsup},
                     {QStringLiteral("channels"), channels},
                     {QStringLiteral("differing"), differing},
                     {QStringLiteral("matches"), QJsonValue::Null}};
    if (reading.cancelled) {
        return stopped(QStringLiteral("after reading %1 of the 24 channel registers")
                           .arg(reading.registersRead),
                       json);
    }
    if (const QString problem = silentProblem(readings); !problem.isEmpty())
        return fail(ExitStatus::ChipSilent, problem, json);
    json.insert(QStringLiteral("matches"), differing.isEmpty());
    if (!differing.isEmpty()) {
        return fail(ExitStatus::Differs,
                    QStringLiteral("%1 channel(s) differ from %2:\n%3")
                        .arg(differing.size())
                        .arg(nativePath(path), lines.chopped(1)),
                    json);
    }
    report(json, QStringLiteral("Verified %1: all 24 channels hold the file's codes\n")
                     .arg(nativePath(path)));
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::resetChip()
{
    if (const ExitStatus status = checkHeard(m_operations.reset(), QStringLiteral("reset"));
        status != ExitStatus::Ok)
        return status;
    report({}, QStringLiteral("Sent the general-call reset\n"));
    return ExitStatus::Ok;
}

// Codes this session has not set are read from the chip once: what it outputs is what is burned.
ExitStatus ChipCommands::pictureFor(const QList<int> &indices)
{
    QList<ChannelReading> readings;
    for (const int index : indices) {
        if (m_picture[std::size_t(index - 1)])
            continue;
        if (stopSignal() != 0)
            return stopped(QStringLiteral("while the codes to burn were read; nothing was burned"),
                           {});
        const control::ChannelReading reading = m_operations.readChannel(m_model.a0Pin, index);
        if (const ExitStatus status =
                checkHeard(reading, QStringLiteral("the read of the codes to burn"));
            status != ExitStatus::Ok)
            return status;
        readings.append({index, reading.word});
    }
    QString problem = silentProblem(readings);
    if (problem.isEmpty())
        problem = unburnableProblem(readings);
    if (!problem.isEmpty())
        return fail(ExitStatus::ChipSilent, problem + QStringLiteral("; nothing was burned"));
    for (const ChannelReading &reading : std::as_const(readings))
        m_picture[std::size_t(reading.index - 1)] = reading.word;
    return ExitStatus::Ok;
}

// Burned cells cannot be unburned: the burn goes through the program's one burn policy, the
// user learns exactly what was sent and what the chip now holds, and the burn log keeps it.
ExitStatus ChipCommands::burn(const QList<int> &indices)
{
    if (const ExitStatus status = pictureFor(indices); status != ExitStatus::Ok)
        return status;
    control::ChannelCodes codes{};
    for (const int index : indices) {
        const int word = wireCode(*m_picture[std::size_t(index - 1)]);
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
    const control::BurnReport burnReport(burned);
    QJsonObject json = control::BurnLog::burnObject(burnReport);
    QJsonArray channels;
    for (const int index : indices) {
        const int code = codes[std::size_t(index - 1)];
        ChannelFacts facts{double(code), {}, {}, {}};
        if (burned.started())
            facts.sent = code;
        if (burned.readBack.wasRead(index))
            facts.readBack = burned.readBack.word(index);
        channels.append(channelObject(index, facts));
    }
    json.insert(QStringLiteral("channels"), channels);
    if (burnReport.declined())
        return stopped(QStringLiteral("before the burn; nothing was burned"), json);

    // The report's text says when the burn log could not take it.
    const std::optional<control::BurnLog> &log = m_operations.burnLog();
    json.insert(QStringLiteral("logged"), burned.logged);
    json.insert(QStringLiteral("log"),
                log ? QJsonValue(log->path()) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("logError"), burned.logError.isEmpty()
                                                ? QJsonValue(QJsonValue::Null)
                                                : QJsonValue(burned.logError));
    if (!burnReport.verified())
        return fail(burnExitStatus(burnReport), burnReport.text(), json);
    if (!burned.logError.isEmpty())
        return fail(ExitStatus::CannotWrite, burnReport.text(), json);
    report(json, burnReport.text() + u'\n');
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::scan()
{
    const control::ChipScan scan = m_operations.findChips();
    if (const ExitStatus status = checkPort(scan); status != ExitStatus::Ok)
        return status;
    if (scan.busHeld) {
        return fail(ExitStatus::SdaHeld,
                    QStringLiteral("no chip can answer: %1").arg(sdaHeldText()),
                    {{QStringLiteral("cause"), QStringLiteral("SDA held low")}});
    }
    const std::array<bool, 2> &found = scan.found;
    QString text;
    QJsonArray chips;
    for (int a0 = 0; a0 <= 1; ++a0) {
        const bool answered = found[std::size_t(a0)];
        text += answered ? QStringLiteral("A0 = %1: a chip answered\n").arg(a0)
                         : QStringLiteral("A0 = %1: no answer\n").arg(a0);
        chips.append(
            QJsonObject{{QStringLiteral("a0"), a0}, {QStringLiteral("answered"), answered}});
    }
    const QJsonObject json{{QStringLiteral("chips"), chips},
                           {QStringLiteral("cause"), QJsonValue::Null}};
    if (!found[0] && !found[1]) {
        m_output.textOnly(text);
        return fail(ExitStatus::ChipSilent,
                    QStringLiteral("no chip answered at either address: is the board powered, "
                                   "and does the adapter bring DSR out? Try selftest"),
                    json);
    }
    report(json, text);
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::selfTest()
{
    using Wiring = bus::ChipBus::Wiring;
    const control::WiringCheck check = m_operations.checkWiring();
    if (const ExitStatus status = checkPort(check); status != ExitStatus::Ok)
        return status;
    const QString text = control::ChipTexts::wiring(check.wiring);
    const QJsonObject json{{QStringLiteral("wiringFine"), check.wiring == Wiring::Fine},
                           {QStringLiteral("finding"), text}};
    if (check.wiring != Wiring::Fine)
        return fail(ExitStatus::WiringFault, text, json);
    report(json, text + u'\n');
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::sendMarker()
{
    if (!m_operations.portOpen())
        return fail(ExitStatus::PortUnavailable, QStringLiteral("the port is not open"));
    m_operations.sendMarkerBlock();
    report({{QStringLiteral("markerBytes"), port::PortManager::markerBlockSize}},
           QStringLiteral("Sent the marker block on TXD\n"));
    return ExitStatus::Ok;
}

// The batch window's run from the command line: each file loaded whole, then the marker block,
// then the delay. A stop ends it after the file under way, never inside one.
ExitStatus ChipCommands::play(const Command &command)
{
    QString error;
    const std::optional<QStringList> files = playListOf(command.paths, &error);
    if (!files)
        return fail(ExitStatus::BadInputFile, error);
    int played = 0;
    int passes = 0;
    const auto summary = [&] {
        return QJsonObject{{QStringLiteral("files"), QJsonArray::fromStringList(*files)},
                           {QStringLiteral("filesPlayed"), played},
                           {QStringLiteral("passesDone"), passes},
                           {QStringLiteral("delay"), command.seconds},
                           {QStringLiteral("loop"), orNull(command.passes)}};
    };
    const auto stoppedAfter = [&] {
        return stopped(
            QStringLiteral("after playing %1 file(s) in %2 whole pass(es)").arg(played).arg(passes),
            summary());
    };
    for (int pass = 1; !command.passes || pass <= *command.passes; ++pass) {
        for (const QString &path : *files) {
            if (stopSignal() != 0)
                return stoppedAfter();
            const std::optional<LoadedSet> loaded = loadedSet(path, &error);
            if (!loaded) {
                return fail(
                    ExitStatus::BadInputFile,
                    QStringLiteral("%1; %2 file(s) were played before it").arg(error).arg(played),
                    summary());
            }
            m_holdStops = true;
            int written = 0;
            const control::OperationResult result = writeSet(*loaded, written);
            m_holdStops = false;
            if (const ExitStatus status = checkHeard(result, QString()); status != ExitStatus::Ok)
                return status;
            m_model.vsup = loaded->set.vsup;
            m_operations.sendMarkerBlock();
            ++played;
            m_output.textOnly(QStringLiteral("Played %1\n").arg(nativePath(path)));
            if (command.seconds > 0 && m_wait && !m_wait(command.seconds))
                return stoppedAfter();
        }
        passes = pass;
    }
    report(summary(), QStringLiteral("Played %1 file(s) in %2 pass(es)\n").arg(played).arg(passes));
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::readBack(const QList<int> &indices, const control::ChannelCodes &sent,
                                  QList<ChannelReading> &readings)
{
    readings.clear();
    m_holdStops = true; // a write is never left unchecked
    for (const int index : indices) {
        const control::ChannelReading reading = m_operations.readChannel(m_model.a0Pin, index);
        if (const ExitStatus status = checkHeard(reading, QStringLiteral("the read-back"));
            status != ExitStatus::Ok) {
            m_holdStops = false;
            readings.clear();
            return status;
        }
        readings.append({index, reading.word});
    }
    m_holdStops = false;
    for (const ChannelReading &reading : std::as_const(readings)) {
        if (reading.word != sent[std::size_t(reading.index - 1)])
            return ExitStatus::Differs;
    }
    return ExitStatus::Ok;
}

QString ChipCommands::differenceText(const QList<int> &indices, const control::ChannelCodes &sent,
                                     const QList<ChannelReading> &readings) const
{
    QString text = QStringLiteral("the read-back differs from what was written:");
    for (qsizetype i = 0; i < readings.size() && i < indices.size(); ++i) {
        const int index = indices.at(i);
        const int expected = sent[std::size_t(index - 1)];
        if (readings.at(i).word == expected)
            continue;
        text += QStringLiteral("\n  %1: wrote 0x%2, reads 0x%3")
                    .arg(channelText(index), device::shownCode(expected),
                         device::shownCode(readings.at(i).word));
    }
    return text;
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
                QStringLiteral("the port failed during use: %1").arg(result.portFailure),
                {{QStringLiteral("portFailure"), result.portFailure}});
}

QString ChipCommands::sdaHeldText()
{
    return QStringLiteral("SDA is held low, and a bus clear (nine clocks and a STOP) did not free "
                          "it: a chip without power, a short on SDA, or DSR stuck (selftest "
                          "tells which)");
}

// `operation` names what failed when it is not the command itself ("the read-back").
ExitStatus ChipCommands::checkHeard(const control::OperationResult &result,
                                    const QString &operation)
{
    if (const ExitStatus status = checkPort(result); status != ExitStatus::Ok)
        return status;
    const QString what = operation.isEmpty() ? m_commandName : operation;
    if (result.busHeld) {
        return fail(ExitStatus::SdaHeld,
                    QStringLiteral("%1 did not reach the chip: %2").arg(what, sdaHeldText()),
                    {{QStringLiteral("cause"), QStringLiteral("SDA held low")}});
    }
    if (result.chipAnswered || result.cancelled)
        return ExitStatus::Ok;
    if (!m_addressesChip) {
        return fail(ExitStatus::ChipSilent,
                    QStringLiteral("no chip acknowledged the general-call reset: is the board "
                                   "powered? (scan finds the chips)"));
    }
    const QString during = operation.isEmpty() ? QString() : QStringLiteral(" during ") + operation;
    return fail(ExitStatus::ChipSilent,
                QStringLiteral("no chip answered at A0 = %1%2: is the board powered, and is A0 "
                               "right? (scan finds the chips)")
                    .arg(m_model.a0Pin, during));
}

// A register that reads every bit released was not driven by any chip.
QString ChipCommands::silentProblem(const QList<ChannelReading> &readings) const
{
    for (const ChannelReading &reading : readings) {
        if (reading.word == silentWord) {
            return QStringLiteral("no chip answered at A0 = %1: %2 read %3")
                .arg(m_model.a0Pin, channelText(reading.index))
                .arg(reading.word);
        }
    }
    return {};
}

// What the chip gives above bit 9 is its own business, but such a word is not burned: the data
// bits would cut it to 1023, which the channel never showed.
QString ChipCommands::unburnableProblem(const QList<ChannelReading> &readings) const
{
    for (const ChannelReading &reading : readings) {
        if (reading.word > largestCode) {
            return QStringLiteral("%1 read %2, which is no 10-bit code to burn")
                .arg(channelText(reading.index))
                .arg(reading.word);
        }
    }
    return {};
}

QJsonObject ChipCommands::channelObject(int index, const ChannelFacts &facts,
                                        const device::DeviceModel &model) const
{
    QJsonObject json = channelJson(index, facts.code.value_or(0));
    if (!facts.code) {
        json.insert(QStringLiteral("code"), QJsonValue::Null);
        json.insert(QStringLiteral("hex"), QJsonValue::Null);
    }
    const bool vsupKnown = model.vsup > model.vlow;
    json.insert(QStringLiteral("voltage"),
                facts.code && vsupKnown ? QJsonValue(device::leadingNumber(device::shownVoltage(
                                              model.displayedVoltage(*facts.code))))
                                        : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("sent"), orNull(facts.sent));
    json.insert(QStringLiteral("file"), orNull(facts.file));
    json.insert(QStringLiteral("readBack"), orNull(facts.readBack));
    return json;
}

// As the main window shows it: full scale above 1023, truncated to whole millivolts.
QString ChipCommands::voltageText(double code) const
{
    if (!(m_model.vsup > m_model.vlow))
        return QStringLiteral("? V");
    return withLeadingZero(device::shownVoltage(m_model.displayedVoltage(code))) +
           QStringLiteral(" V");
}

void ChipCommands::hintUnknownVsup()
{
    if (m_model.vsup > m_model.vlow || std::exchange(m_vsupHintGiven, true))
        return;
    m_output.note(QStringLiteral("the board's Vsup is unknown (none above 0 V is stored for A0 = "
                                 "%1), so no voltage is shown: give it with --vsup VOLTS")
                      .arg(m_model.a0Pin));
}

QJsonObject ChipCommands::withChip(QJsonObject json) const
{
    if (!m_addressesChip)
        return json;
    if (!json.contains(QStringLiteral("a0")))
        json.insert(QStringLiteral("a0"), m_model.a0Pin.toInt());
    if (!json.contains(QStringLiteral("vsup")) && m_model.vsup > m_model.vlow)
        json.insert(QStringLiteral("vsup"), m_model.vsup);
    return json;
}

void ChipCommands::report(const QJsonObject &json, const QString &text)
{
    m_output.result(withChip(json), text);
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
    m_output.failure(status, message, withChip(details));
    return status;
}

} // namespace cli
