// SPDX-License-Identifier: MIT
#include "cli/filecommands.h"

#include "cli/channeltext.h"
#include "cli/output.h"
#include "cli/playlist.h"
#include "device/numbertext.h"

#include <QDir>
#include <QJsonArray>
#include <algorithm>

namespace cli {

namespace {

using device::channelCount;

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

FileCommands::FileCommands(CommandContext &context)
    : m_context(context), m_operations(context.operations()), m_model(context.model()),
      m_output(context.output())
{}

std::optional<FileCommands::LoadedSet> FileCommands::loadedSet(const QString &path,
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

control::OperationResult FileCommands::writeSet(const LoadedSet &loaded, int &written)
{
    written = 0;
    const control::OperationResult result = m_operations.loadCodes(
        m_model.a0Pin, loaded.codes, [&written](int index, bool) { written = index; });
    for (int index = 1; index <= written; ++index) {
        m_model.dacCode[index] = loaded.codes[std::size_t(index - 1)];
        m_context.setPictured(index, loaded.codes[std::size_t(index - 1)]);
    }
    return result;
}

// The whole file is read and checked before the first write, so a bad file sends nothing; it is
// read when the line runs, so a script acts on the file as an earlier line left it.
ExitStatus FileCommands::loadFile(const Command &command)
{
    const QString &path = command.path;
    QString error;
    const std::optional<LoadedSet> loaded = loadedSet(path, &error);
    if (!loaded)
        return m_context.fail(ExitStatus::BadInputFile, error, {{QStringLiteral("file"), path}});
    int written = 0;
    const control::OperationResult result = writeSet(*loaded, written);
    const auto channelsUpTo = [&](int last, const QList<ChannelReading> &readings) {
        QJsonArray channels;
        for (int index = 1; index <= last; ++index) {
            const double code = loaded->codes[std::size_t(index - 1)];
            ChannelFacts facts{code, wireCode(code), loaded->set.codes[std::size_t(index - 1)], {}};
            if (index <= readings.size())
                facts.readBack = readings.at(index - 1).word;
            channels.append(m_context.channelObject(index, facts));
        }
        return channels;
    };
    if (const ExitStatus status = m_context.checkHeard(result, QString()); status != ExitStatus::Ok)
        return status;
    if (result.cancelled) {
        return m_context.stopped(
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
        command.verify ? m_context.readBack(control::ChipOperations::allChannels(), sent, readings)
                       : ExitStatus::Ok;
    if (checked != ExitStatus::Ok && readings.isEmpty())
        return checked;
    const QJsonObject json{{QStringLiteral("file"), path},
                           {QStringLiteral("channels"), channelsUpTo(channelCount, readings)},
                           {QStringLiteral("verified"), command.verify
                                                            ? QJsonValue(checked == ExitStatus::Ok)
                                                            : QJsonValue(QJsonValue::Null)}};
    if (checked != ExitStatus::Ok)
        return m_context.fail(
            checked,
            m_context.differenceText(control::ChipOperations::allChannels(), sent, readings), json);
    m_context.report(
        json,
        QStringLiteral("Loaded %1: Vsup %2 V, wrote the 24 channels%3\n")
            .arg(nativePath(path), numberWithoutBlank(loaded->set.vsup),
                 command.verify ? QStringLiteral("; read back, all hold their codes") : QString()));
    return ExitStatus::Ok;
}

ExitStatus FileCommands::saveFile(const QString &path)
{
    const control::ChipReading reading = m_operations.readChannels(m_model.a0Pin);
    if (const ExitStatus status = m_context.checkHeard(reading, QStringLiteral("save"));
        status != ExitStatus::Ok)
        return status;
    if (reading.cancelled) {
        return m_context.stopped(
            QStringLiteral("before all registers were read; %1 was not written")
                .arg(nativePath(path)),
            {{QStringLiteral("file"), path}});
    }
    // Words of a silent bus would replace a good file with nothing but full scale.
    const QList<ChannelReading> readings = m_context.readingsOf(reading);
    if (const QString problem = m_context.silentProblem(readings); !problem.isEmpty())
        return m_context.fail(ExitStatus::ChipSilent, problem, {{QStringLiteral("file"), path}});

    device::RegisterSet set;
    set.vsup = m_model.vsup;
    std::copy(reading.words.begin(), reading.words.end(), set.codes.begin());
    QString error;
    if (!device::writeRegisterSetFile(path, set, &error))
        return m_context.fail(ExitStatus::CannotWrite, error, {{QStringLiteral("file"), path}});
    QJsonArray channels;
    for (const auto &[index, word] : readings)
        channels.append(m_context.channelObject(index, {double(word), {}, {}, {}}));
    m_context.report({{QStringLiteral("file"), path}, {QStringLiteral("channels"), channels}},
                     QStringLiteral("Saved %1: Vsup %2 V and the 24 codes read from the chip\n")
                         .arg(nativePath(path), numberWithoutBlank(set.vsup)));
    return ExitStatus::Ok;
}

// What the chip holds against what loading the file leaves on it, at the file's Vsup.
ExitStatus FileCommands::verifyFile(const QString &path)
{
    QString error;
    const std::optional<LoadedSet> loaded = loadedSet(path, &error);
    if (!loaded)
        return m_context.fail(ExitStatus::BadInputFile, error, {{QStringLiteral("file"), path}});
    const control::ChipReading reading = m_operations.readChannels(m_model.a0Pin);
    if (const ExitStatus status = m_context.checkHeard(reading, QStringLiteral("verify"));
        status != ExitStatus::Ok)
        return status;
    device::DeviceModel fileModel = m_model;
    fileModel.vsup = loaded->set.vsup;
    const QList<ChannelReading> readings = m_context.readingsOf(reading);
    QJsonArray channels;
    QJsonArray differing;
    QString lines;
    for (const auto &[index, word] : readings) {
        const double fileValue = loaded->set.codes[std::size_t(index - 1)];
        const int expected = wireCode(loaded->codes[std::size_t(index - 1)]);
        channels.append(
            m_context.channelObject(index, {double(word), {}, fileValue, {}}, fileModel));
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
        return m_context.stopped(QStringLiteral("after reading %1 of the 24 channel registers")
                                     .arg(reading.registersRead),
                                 json);
    }
    if (const QString problem = m_context.silentProblem(readings); !problem.isEmpty())
        return m_context.fail(ExitStatus::ChipSilent, problem, json);
    json.insert(QStringLiteral("matches"), differing.isEmpty());
    if (!differing.isEmpty()) {
        return m_context.fail(ExitStatus::Differs,
                              QStringLiteral("%1 channel(s) differ from %2:\n%3")
                                  .arg(differing.size())
                                  .arg(nativePath(path), lines.chopped(1)),
                              json);
    }
    m_context.report(json, QStringLiteral("Verified %1: all 24 channels hold the file's codes\n")
                               .arg(nativePath(path)));
    return ExitStatus::Ok;
}

// The batch window's run from the command line: each file loaded whole, then the marker block,
// then the delay. A stop ends it after the file under way, never inside one.
ExitStatus FileCommands::play(const Command &command)
{
    QString error;
    const std::optional<QStringList> files = playListOf(command.paths, &error);
    if (!files)
        return m_context.fail(ExitStatus::BadInputFile, error);
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
        return m_context.stopped(
            QStringLiteral("after playing %1 file(s) in %2 whole pass(es)").arg(played).arg(passes),
            summary());
    };
    for (int pass = 1; !command.passes || pass <= *command.passes; ++pass) {
        for (const QString &path : *files) {
            if (m_context.stopSignal() != 0)
                return stoppedAfter();
            const std::optional<LoadedSet> loaded = loadedSet(path, &error);
            if (!loaded) {
                return m_context.fail(
                    ExitStatus::BadInputFile,
                    QStringLiteral("%1; %2 file(s) were played before it").arg(error).arg(played),
                    summary());
            }
            m_context.holdStops();
            int written = 0;
            const control::OperationResult result = writeSet(*loaded, written);
            m_context.releaseStops();
            if (const ExitStatus status = m_context.checkHeard(result, QString());
                status != ExitStatus::Ok)
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
    m_context.report(summary(),
                     QStringLiteral("Played %1 file(s) in %2 pass(es)\n").arg(played).arg(passes));
    return ExitStatus::Ok;
}

} // namespace cli
