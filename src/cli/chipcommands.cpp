// SPDX-License-Identifier: MIT
#include "cli/chipcommands.h"

#include "cli/output.h"
#include "control/chiptexts.h"
#include "port/portmanager.h"

#include <QJsonArray>

namespace cli {

namespace {

using Kind = Command::Kind;

} // namespace

ChipCommands::ChipCommands(control::ChipOperations &operations, device::DeviceModel &model,
                           Output &output)
    : m_context(operations, model, output), m_operations(operations), m_output(output)
{}

ExitStatus ChipCommands::execute(const Command &command)
{
    // The general call, the scan, the self-test and the marker block address no chip of their
    // own.
    const bool addressesChip = command.kind != Kind::Reset && command.kind != Kind::Scan &&
                               command.kind != Kind::SelfTest && command.kind != Kind::Marker;
    m_context.beginCommand(commandName(command.kind), addressesChip);
    switch (command.kind) {
    case Kind::Read:
        return m_registers.readAll();
    case Kind::Get:
        return m_registers.getChannel(command.channel);
    case Kind::Code:
        return m_registers.writeCode(command.channel, command.code, command.verify);
    case Kind::Set:
        return m_registers.setVoltage(command.channel, command.volts, command.verify);
    case Kind::Load:
        return m_files.loadFile(command);
    case Kind::Save:
        return m_files.saveFile(command.path);
    case Kind::Verify:
        return m_files.verifyFile(command.path);
    case Kind::Reset:
        return resetChip();
    case Kind::Otp:
        return m_burns.burn(command.channels.isEmpty() ? QList<int>{command.channel}
                                                       : command.channels);
    case Kind::OtpAll:
        return m_burns.burn(control::ChipOperations::allChannels());
    case Kind::Scan:
        return scan();
    case Kind::SelfTest:
        return selfTest();
    case Kind::Marker:
        return sendMarker();
    case Kind::Play:
        return m_files.play(command);
    case Kind::Ports:
    case Kind::Script:
    case Kind::Sleep:
    case Kind::Burns:
    case Kind::Diagnose:
    case Kind::Help:
        break;
    }
    return m_context.fail(ExitStatus::Usage,
                          QStringLiteral("%1 does not use the bus").arg(commandName(command.kind)));
}

ExitStatus ChipCommands::resetChip()
{
    if (const ExitStatus status =
            m_context.checkHeard(m_operations.reset(), QStringLiteral("reset"));
        status != ExitStatus::Ok)
        return status;
    m_context.report({}, QStringLiteral("Sent the general-call reset\n"));
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::scan()
{
    const control::ChipScan scan = m_operations.findChips();
    if (const ExitStatus status = m_context.checkPort(scan); status != ExitStatus::Ok)
        return status;
    if (scan.busHeld) {
        return m_context.fail(ExitStatus::SdaHeld,
                              QStringLiteral("no chip can answer: %1").arg(m_context.sdaHeldText()),
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
        return m_context.fail(
            ExitStatus::ChipSilent,
            QStringLiteral("no chip answered at either address: is the board powered, "
                           "and does the adapter bring DSR out? Try selftest"),
            json);
    }
    m_context.report(json, text);
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::selfTest()
{
    using Wiring = bus::ChipBus::Wiring;
    const control::WiringCheck check = m_operations.checkWiring();
    if (const ExitStatus status = m_context.checkPort(check); status != ExitStatus::Ok)
        return status;
    const QString text = control::ChipTexts::wiring(check.wiring);
    const QJsonObject json{{QStringLiteral("wiringFine"), check.wiring == Wiring::Fine},
                           {QStringLiteral("finding"), text}};
    if (check.wiring != Wiring::Fine)
        return m_context.fail(ExitStatus::WiringFault, text, json);
    m_context.report(json, text + u'\n');
    return ExitStatus::Ok;
}

ExitStatus ChipCommands::sendMarker()
{
    if (!m_operations.portOpen())
        return m_context.fail(ExitStatus::PortUnavailable, QStringLiteral("the port is not open"));
    m_operations.sendMarkerBlock();
    m_context.report({{QStringLiteral("markerBytes"), port::PortManager::markerBlockSize}},
                     QStringLiteral("Sent the marker block on TXD\n"));
    return ExitStatus::Ok;
}

} // namespace cli
