#include "device/channelglue.h"

#include "device/bitstrings.h"

namespace device {

void ChannelGlue::writeSelectedChannel()
{
    const int s = m_model.selectedChannel;
    const QString registerBits = decmal_to_binary8(registerOfChannel(s));
    const DataBits data = codeToDataBits(m_model.dacCode[s]);
    m_chip.writeDacRegister(data.low, data.high, chipAddressBits(m_model.a0Pin), registerBits);
}

void ChannelGlue::programAllChannelsOtp()
{
    for (int i = 1; i <= channelCount; ++i)
        programChannelOtp(i);
}

void ChannelGlue::programChannelOtp(int index)
{
    const QString registerBits = decmal_to_binary8(registerOfChannel(index));
    const DataBits data = codeToDataBits(m_model.dacCode[index]);
    m_chip.writeOtpRegister(data.low, data.high, chipAddressBits(m_model.a0Pin), registerBits);
}

} // namespace device
