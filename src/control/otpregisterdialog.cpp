// SPDX-License-Identifier: MIT
#include "control/otpregisterdialog.h"

#include "control/burnreport.h"
#include "control/busthread.h"
#include "control/chipoperations.h"
#include "control/registergrid.h"
#include "control/userprompts.h"

#include <memory>

namespace control {

OtpRegisterDialog::OtpRegisterDialog(device::DeviceModel &model, RegisterGrid &grid,
                                     ChipOperations &operations, UserPrompts &prompts,
                                     QObject *parent)
    : QObject(parent), m_model(model), m_grid(grid), m_operations(operations), m_prompts(prompts)
{}

QString OtpRegisterDialog::registerName(int position)
{
    if (position == 22)
        return QStringLiteral("c1");
    if (position == 23)
        return QStringLiteral("c2");
    return QString::number(position + 1);
}

int OtpRegisterDialog::channelOfPosition(int position)
{
    // "19" to "22" live at channel indices 21 to 24, after "c1" (19) and "c2" (20).
    if (position >= 18 && position <= 21)
        return position + 3;
    if (position == 22)
        return 19;
    if (position == 23)
        return 20;
    return position + 1;
}

void OtpRegisterDialog::open()
{
    m_position = 0;
    showPosition();
}

void OtpRegisterDialog::nextRegister()
{
    if (m_position < registerCount - 1)
        ++m_position;
    showPosition();
}

void OtpRegisterDialog::previousRegister()
{
    if (m_position > 0)
        --m_position;
    showPosition();
}

void OtpRegisterDialog::showPosition()
{
    const int index = channel();
    m_voltageText = m_grid.voltageText(index);
    m_hexText = m_grid.hexText(index);
    emit registerShown();
}

bool OtpRegisterDialog::burnShownRegister()
{
    // Not cancellable: the burn, its reset and its read-back belong together. Asked for while a
    // transaction is on the bus, it runs once the bus is free, after this has returned false.
    const auto burned = std::make_shared<bool>(false);
    runCommand(m_operations.busThread(), tr("Program OTP One Channel"), Cancel::Never,
               [this, burned] { *burned = burnNow(); });
    return *burned;
}

bool OtpRegisterDialog::burnNow()
{
    const int index = channel();
    const QString title = tr("Write OTP Reg");
    if (m_model.codeUnknown[index]) {
        const QString why = m_model.writeUnacknowledged[index]
                                ? tr("Channel %1 was not acknowledged by the chip")
                                : tr("Channel %1 was never read from the chip");
        m_prompts.showError(title, tr("%1, so its code is not known. Read DAC first; nothing was "
                                      "burned.")
                                       .arg(why.arg(device::channelLabel(index))));
        return false;
    }
    if (!burnMayGoAhead(m_operations.burnLogProblem(), m_prompts, title))
        return false;
    // The dialog's texts may be older than the model, so the question names the code that will
    // really be burned.
    const QString question =
        tr("Burn code %1h into OTP register \"%2\" (address %3h) of the device with A0 = %4?\n\n"
           "This cannot be undone.")
            .arg(QString::number(BurnReport::codeOnTheWire(m_model.dacCode[index]), 16).toUpper(),
                 name(),
                 QStringLiteral("%1")
                     .arg(device::registerOfChannel(index), 2, 16, QLatin1Char('0'))
                     .toUpper(),
                 m_model.a0Pin);
    ChannelCodes codes{};
    codes[std::size_t(index - 1)] = m_model.dacCode[index];
    ChannelCodes shown{};
    for (int i = 1; i <= device::channelCount; ++i)
        shown[std::size_t(i - 1)] = m_model.dacCode[i];
    const double vlow = m_model.vlow;
    const double vsup = m_model.vsup;
    const BurnResult burned = m_operations.burn(m_model.a0Pin, {index}, codes,
                                                [this, &title, &question](const BurnResult &) {
                                                    return m_prompts.confirm(title, question);
                                                });
    m_grid.showBurn(burned);
    BurnReport report(burned);
    report.setShownBefore(shown, vlow, vsup);
    report.show(m_prompts, title);
    return burned.started();
}

} // namespace control
