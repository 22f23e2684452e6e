// SPDX-License-Identifier: MIT
#include "port/ftdilibrary.h"

#include <cerrno>
#include <ftdi.h>

namespace port {

namespace {

constexpr int ftdiVendorId = 0x0403;
constexpr int ft232rProductId = 0x6001;

class LibFtdi : public FtdiLibrary
{
public:
    ~LibFtdi() override { finish(); }

    bool start(int usbCallTimeoutMs) override
    {
        finish();
        m_context = ftdi_new();
        if (!m_context)
            return false;
        // libftdi takes the chip from the kernel's ftdi_sio driver when it claims it and, in
        // this mode, hands it back when it lets go in ftdi_usb_close().
        m_context->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
        m_context->usb_read_timeout = usbCallTimeoutMs;
        m_context->usb_write_timeout = usbCallTimeoutMs;
        return true;
    }

    int openByAddress(int bus, int address, int *openErrno) override
    {
        errno = 0;
        const int result = ftdi_usb_open_bus_addr(m_context, quint8(bus), quint8(address));
        return opened(result, openErrno);
    }

    int openBySerial(const QByteArray &serial, int *openErrno) override
    {
        errno = 0;
        const int result = ftdi_usb_open_desc(m_context, ftdiVendorId, ft232rProductId, nullptr,
                                              serial.isEmpty() ? nullptr : serial.constData());
        return opened(result, openErrno);
    }

    bool startBitBang(quint8 outputPins, int stepsPerSecond, int latencyMs) override
    {
        // In bit-bang mode libftdi multiplies the rate it is given by four before it picks the
        // chip's baud divisor, so that the argument is the rate of steps; it does so only once
        // bit-bang mode is on, hence the order.
        return ftdi_usb_reset(m_context) == 0 &&
               ftdi_set_latency_timer(m_context, quint8(latencyMs)) == 0 &&
               ftdi_set_bitmode(m_context, outputPins, BITMODE_SYNCBB) == 0 &&
               ftdi_set_baudrate(m_context, stepsPerSecond) == 0 && ftdi_tcioflush(m_context) == 0;
    }

    void finish() override
    {
        if (!m_context)
            return;
        if (m_claimed) {
            // Back to serial mode, then the interface is released, which gives it to ftdi_sio.
            ftdi_set_bitmode(m_context, 0, BITMODE_RESET);
            ftdi_usb_close(m_context);
        }
        ftdi_free(m_context);
        m_context = nullptr;
        m_claimed = false;
    }

    int write(const unsigned char *bytes, int count) override
    {
        return ftdi_write_data(m_context, bytes, count);
    }

    int read(unsigned char *bytes, int count) override
    {
        return ftdi_read_data(m_context, bytes, count);
    }

    QString errorText() const override
    {
        return m_context ? QString::fromUtf8(ftdi_get_error_string(m_context)) : QString();
    }

private:
    int opened(int result, int *openErrno)
    {
        *openErrno = errno;
        m_claimed = result == 0;
        return result;
    }

    ftdi_context *m_context = nullptr;
    bool m_claimed = false;
};

} // namespace

std::unique_ptr<FtdiLibrary> makeLibFtdi()
{
    return std::make_unique<LibFtdi>();
}

} // namespace port
