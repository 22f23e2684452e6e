// SPDX-License-Identifier: MIT
#include "python/pythonarguments.h"

#include "device/devicemodel.h"
#include "python/pythonerrors.h"
#include "python/pythonvalues.h"

#include <cmath>

namespace py = pybind11;

namespace python {

void refuseArgument(const QString &message)
{
    raiseFailure(cli::ExitStatus::Usage, message, {});
}

int channelIndexOf(const py::handle &channel)
{
    if (py::isinstance<py::bool_>(channel))
        throw py::type_error("a channel is a label such as \"c1\" or an index from 1 to 24");
    if (py::isinstance<py::int_>(channel)) {
        const long long index = channel.cast<long long>();
        if (index < 1 || index > device::channelCount)
            refuseArgument(QStringLiteral("there is no channel index %1: the indices are 1 to 24, "
                                          "in register order")
                               .arg(index));
        return int(index);
    }
    if (py::isinstance<py::str>(channel)) {
        const QString name = textOf(channel);
        if (const std::optional<int> index = cli::channelOfName(name))
            return *index;
        refuseArgument(QStringLiteral("there is no channel \"%1\": the channels are 1 to 22, "
                                      "c1 and c2, or registers 0x00 to 0x17")
                           .arg(name));
    }
    throw py::type_error("a channel is a label such as \"c1\" or an index from 1 to 24");
}

int codeOf(const py::handle &code)
{
    if (!py::isinstance<py::int_>(code) || py::isinstance<py::bool_>(code))
        throw py::type_error("a code is an int from 0 to 1024 (1024 = full scale)");
    const long long value = code.cast<long long>();
    if (value < 0 || value > 1024)
        refuseArgument(QStringLiteral("\"%1\" is not a code: give a whole number from 0 to "
                                      "1024 (1024 = full scale), or 0x0 to 0x400")
                           .arg(value));
    return int(value);
}

double voltsOf(double volts)
{
    if (!std::isfinite(volts))
        refuseArgument(
            QStringLiteral("\"%1\" is not a voltage: give a number in volts").arg(volts));
    return volts;
}

void setBurnTarget(cli::Command &command, const py::handle &channels)
{
    if (channels.is_none()) {
        command.kind = cli::Command::Kind::OtpAll;
        return;
    }
    command.kind = cli::Command::Kind::Otp;
    if (py::isinstance<py::str>(channels) || py::isinstance<py::int_>(channels)) {
        command.channel = channelIndexOf(channels);
        return;
    }
    for (const py::handle channel : py::iter(channels)) {
        const int index = channelIndexOf(channel);
        if (command.channels.contains(index))
            refuseArgument(QStringLiteral("channel %1 is given twice: a cell is burned once")
                               .arg(device::channelLabel(index)));
        command.channels.append(index);
    }
    if (command.channels.isEmpty())
        refuseArgument(QStringLiteral("no channel to burn: give None for all of them"));
}

} // namespace python
