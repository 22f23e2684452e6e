#pragma once

#include "bus/chipbus.h"
#include "device/devicemodel.h"

namespace device {

// The only way codes reach the chip: a channel of the model becomes one bus transaction, with
// the model's code, selected channel and A0 read at the moment it runs.
class ChannelGlue
{
public:
    ChannelGlue(DeviceModel &model, bus::ChipBus &chip) : m_model(model), m_chip(chip) {}

    // One DAC register write of the selected channel's code.
    void writeSelectedChannel();
    // Burns the codes of channels 1 to 24 into OTP, in register order.
    void programAllChannelsOtp();
    void programChannelOtp(int index);

private:
    DeviceModel &m_model;
    bus::ChipBus &m_chip;
};

} // namespace device
