// SPDX-License-Identifier: MIT
#include "app/commandline.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>

namespace app {

CommandLine::CommandLine()
    : m_simulate(QStringLiteral("simulate"),
                 QCoreApplication::translate("CommandLine",
                                             "Run on the simulated evaluation board at COM1, with "
                                             "settings of its own (the real ones stay as they "
                                             "are).")),
      m_port(QStringLiteral("port"),
             QCoreApplication::translate(
                 "CommandLine",
                 "Map a port number to a device, e.g. COM5=/dev/serial/by-id/usb-FTDI-if00-port0, "
                 "or to the simulated board with COMn=sim (COMn=sim:1ms makes it as slow as a USB "
                 "adapter). COMn=ftdi drives COMn's FT232R adapter in fast mode (bit-bang, a "
                 "whole frame per USB transfer); COMn=sim-ft232r:1ms puts the simulated board "
                 "behind a virtual FT232R with 1 ms per transfer. Repeatable."),
             QStringLiteral("COMn=PATH")),
      m_trace(QStringLiteral("trace"),
              QCoreApplication::translate(
                  "CommandLine",
                  "Record every line operation and write it as a VCD bus trace (SCL, SDA, DTR, "
                  "RTS, DSR) to FILE when the program ends."),
              QStringLiteral("FILE.vcd")),
      m_simFault(QStringLiteral("sim-fault"),
                 QCoreApplication::translate(
                     "CommandLine",
                     "Give the simulated board a fault, to see what the program says of it "
                     "(repeatable): dsr-stuck (DSR reads SDA low always), frozen-read[=A0] (the "
                     "chip starts stuck inside a read, holding SDA low), dead-cell=CH (channel "
                     "CH's OTP cell takes no burn), bank-stays-open (a reset does not close the "
                     "OTP bank)."),
                 QStringLiteral("FAULT")),
      m_verbose(QStringLiteral("verbose"),
                QCoreApplication::translate("CommandLine",
                                            "Log what the program does (ports, bus, commands) on "
                                            "standard error. Help > Save Diagnostics has the "
                                            "recent log either way.")),
      m_help(m_parser.addHelpOption()), m_version(m_parser.addVersionOption())
{
    m_parser.setApplicationDescription(QCoreApplication::translate(
        "CommandLine", "Evaluation tool for the KALVENTA 24-channel DAC."));
    m_parser.addOption(m_simulate);
    m_parser.addOption(m_port);
    m_parser.addOption(m_trace);
    m_parser.addOption(m_simFault);
    m_parser.addOption(m_verbose);
    m_parser.addPositionalArgument(
        QStringLiteral("FILE.csv"),
        QCoreApplication::translate("CommandLine",
                                    "A register-set file to load once the chip has been read; "
                                    "the program asks before it sends it."),
        QStringLiteral("[FILE.csv]"));
}

CommandLine::Result CommandLine::parse(const QStringList &arguments)
{
    m_options = {};
    m_errorText.clear();
    if (!m_parser.parse(arguments)) {
        m_errorText = m_parser.errorText();
        return Result::Error;
    }
    if (m_parser.isSet(m_help) || m_parser.isSet(QStringLiteral("help-all")))
        return Result::ShowHelp;
    if (m_parser.isSet(m_version))
        return Result::ShowVersion;
    const QStringList files = m_parser.positionalArguments();
    if (files.size() > 1) {
        m_errorText = QCoreApplication::translate("CommandLine", "Unexpected argument \"%1\": "
                                                                 "one file at a time.")
                          .arg(files[1]);
        return Result::Error;
    }
    // A word that names no file is more likely a mistyped option than a file to offer.
    if (!files.isEmpty() && !QFileInfo::exists(files.first())) {
        m_errorText =
            QCoreApplication::translate("CommandLine", "Unexpected argument \"%1\": no such file.")
                .arg(files.first());
        return Result::Error;
    }
    m_options.offeredFile = files.value(0);

    m_options.simulate = m_parser.isSet(m_simulate);
    m_options.verbose = m_parser.isSet(m_verbose);
    m_options.tracePath = m_parser.value(m_trace);
    for (const QString &value : m_parser.values(m_port)) {
        const port::PortOverride entry = port::PortMap::parseOverride(value);
        if (!entry.isValid()) {
            m_errorText = QStringLiteral("--port: ") + entry.error;
            return Result::Error;
        }
        m_options.portOverrides.append(entry);
    }
    for (const QString &value : m_parser.values(m_simFault)) {
        QString error;
        if (!m_options.simFaults.add(value, &error)) {
            m_errorText = QStringLiteral("--sim-fault: ") + error;
            return Result::Error;
        }
    }
    const bool simulated =
        m_options.simulate ||
        std::any_of(m_options.portOverrides.cbegin(), m_options.portOverrides.cend(),
                    [](const port::PortOverride &entry) { return entry.simulated; });
    if (!m_options.simFaults.isEmpty() && !simulated) {
        m_errorText = QCoreApplication::translate(
            "CommandLine", "--sim-fault: faults are for the simulated board (--simulate or "
                           "--port COMn=sim)");
        return Result::Error;
    }
    return Result::Run;
}

} // namespace app
