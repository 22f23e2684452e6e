// SPDX-License-Identifier: MIT
#include "port/portmap.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QStringList>
#include <algorithm>

namespace port {

namespace {

#ifndef Q_OS_WIN
// The default table, one row per device family, in COM number order.
struct DefaultRange
{
    int first;
    int last;
    const char *prefix;
};

constexpr DefaultRange defaultRanges[] = {
    {1, 4, "/dev/ttyS"},
    {5, 12, "/dev/ttyUSB"},
    {13, 16, "/dev/ttyACM"},
};
#endif

PortTarget deviceTarget(const QString &devicePath)
{
    PortTarget target;
    target.kind = PortTarget::Kind::Device;
    target.devicePath = devicePath;
    return target;
}

QString joinedDescription(const QSerialPortInfo &info)
{
    const QString description = info.description();
    const QString manufacturer = info.manufacturer();
    if (manufacturer.isEmpty() || description.contains(manufacturer))
        return description;
    if (description.isEmpty())
        return manufacturer;
    return QStringLiteral("%1 (%2)").arg(description, manufacturer);
}

} // namespace

QString PortDescription::text() const
{
    QStringList parts{name};
    if (!location.isEmpty())
        parts.append(location);
    if (!description.isEmpty())
        parts.append(description);
    return parts.join(QStringLiteral("  "));
}

bool PortMap::isPortNumber(int portNumber)
{
    return portNumber >= firstPortNumber && portNumber <= lastPortNumber;
}

QString PortMap::comName(int portNumber)
{
    return QStringLiteral("COM%1").arg(portNumber);
}

QString PortMap::portName(int portNumber)
{
    return isPortNumber(portNumber) ? comName(portNumber) : QString();
}

QString PortMap::defaultDevicePath(int portNumber)
{
    if (!isPortNumber(portNumber))
        return {};
#ifdef Q_OS_WIN
    return portName(portNumber);
#else
    for (const DefaultRange &range : defaultRanges) {
        if (portNumber <= range.last)
            return QLatin1String(range.prefix) + QString::number(portNumber - range.first);
    }
    return {};
#endif
}

namespace {

PortOverride refusedPort(const QString &error)
{
    PortOverride result;
    result.error = error;
    return result;
}

// What follows "COMn=", or the whole text without one.
PortOverride parseTarget(const QString &text, bool numbered)
{
    static const QRegularExpression ftdiSerial(QStringLiteral("^ftdi:([!-~]{1,64})$"),
                                               QRegularExpression::CaseInsensitiveOption);
    PortOverride result;
    QString error;
    if (const auto delay = PortMap::parseSimulated(text, &error)) {
        result.simulated = true;
        result.lineDelay = *delay;
    } else if (const auto latency =
                   error.isEmpty() ? PortMap::parseVirtualAdapter(text, &error) : std::nullopt) {
        result.simulated = true;
        result.virtualAdapter = true;
        result.lineDelay = *latency;
    } else if (!error.isEmpty()) {
        result.error = error;
    } else if (const QRegularExpressionMatch serial = ftdiSerial.match(text); serial.hasMatch()) {
        result.ftdiSerial = serial.captured(1);
    } else if (text.compare(QLatin1String("ftdi"), Qt::CaseInsensitive) == 0) {
        if (numbered)
            result.fastMode = true;
        else
            result.error = QObject::tr("ftdi needs its port: COMn=ftdi, or ftdi:SERIAL");
    } else if (numbered || text.contains(u'/') || text.contains(u'\\')) {
        result.devicePath = text;
    } else {
        result.error = QObject::tr("\"%1\" is neither COM1 to COM16, COMn=PATH, COMn=ftdi, "
                                   "ftdi:SERIAL, a device path, sim nor sim-ft232r")
                           .arg(text);
    }
    return result;
}

// "COM" and one to five digits: the number, 0 for anything else.
int comNumberOf(const QString &name)
{
    const QString digits = name.mid(3);
    const bool digitsOnly =
        !digits.isEmpty() && digits.size() <= 5 &&
        std::all_of(digits.cbegin(), digits.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) || !digitsOnly)
        return 0;
    return std::max(digits.toInt(), 0);
}

} // namespace

PortOverride PortMap::parsePort(const QString &text)
{
    // A path may hold "=" itself: only a name before it without separators is a port name.
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    const QString name = equals < 0 ? text : text.left(equals);
    const bool hasSeparator = name.contains(u'/') || name.contains(u'\\');
    const int number = hasSeparator ? 0 : comNumberOf(name);
    if (equals < 0 && number == 0)
        return parseTarget(text, false);
    if (number == 0 && !hasSeparator)
        return refusedPort(QObject::tr("\"%1\" is not a port name COM1 to COM16").arg(name));
    if (number == 0)
        return parseTarget(text, false);
    if (!isPortNumber(number))
        return refusedPort(QObject::tr("%1 is outside COM1 to COM16").arg(name));

    PortOverride result;
    if (equals >= 0) {
        const QString target = text.mid(equals + 1);
        if (target.isEmpty())
            return refusedPort(QObject::tr("no device path given for %1").arg(comName(number)));
        result = parseTarget(target, true);
    }
    if (result.isValid())
        result.portNumber = number;
    return result;
}

PortOverride PortMap::parseOverride(const QString &text)
{
    const PortOverride result = parsePort(text);
    if (result.isValid() && (result.portNumber == 0 || result.namesOnlyNumber()))
        return refusedPort(
            QObject::tr("\"%1\" is not of the form COMn=PATH or COMn=sim").arg(text));
    return result;
}

namespace {

// "NAME" or "NAME:WAIT" with WAIT a time such as 1ms or 250us, at most 1 s.
std::optional<std::chrono::microseconds>
parseWait(const QRegularExpression &form, const QString &text, const QString &what, QString *error)
{
    static const QRegularExpression wait(QStringLiteral("^([0-9]+(?:\\.[0-9]+)?)(ms|us)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    if (!match.hasCaptured(1))
        return std::chrono::microseconds(0);
    const QRegularExpressionMatch time = wait.match(match.captured(1));
    const double micro =
        time.captured(1).toDouble() *
        (time.captured(2).compare(QLatin1String("ms"), Qt::CaseInsensitive) == 0 ? 1000.0 : 1.0);
    if (!time.hasMatch() || micro > 1e6) {
        *error = QObject::tr("\"%1\": %2 is a time such as 1ms or 250us, at most 1000ms")
                     .arg(text, what);
        return std::nullopt;
    }
    return std::chrono::microseconds(qRound64(micro));
}

} // namespace

std::optional<std::chrono::microseconds> PortMap::parseSimulated(const QString &text,
                                                                 QString *error)
{
    static const QRegularExpression form(QStringLiteral("^sim(?::(.*))?$"),
                                         QRegularExpression::CaseInsensitiveOption);
    return parseWait(form, text, QObject::tr("the simulated board's wait"), error);
}

std::optional<std::chrono::microseconds> PortMap::parseVirtualAdapter(const QString &text,
                                                                      QString *error)
{
    static const QRegularExpression form(QStringLiteral("^sim-ft232r(?::(.*))?$"),
                                         QRegularExpression::CaseInsensitiveOption);
    return parseWait(form, text, QObject::tr("the virtual adapter's latency"), error);
}

int PortMap::numberForDevice(const QString &devicePath)
{
    for (int n = firstPortNumber; n <= lastPortNumber; ++n) {
        if (defaultDevicePath(n) == devicePath)
            return n;
    }
    for (int n = firstPortNumber; n <= lastPortNumber; ++n) {
        if (!QFileInfo::exists(defaultDevicePath(n)))
            return n;
    }
    return lastPortNumber;
}

void PortMap::mapToDevice(int portNumber, const QString &devicePath)
{
    if (isPortNumber(portNumber))
        m_overrides.insert(portNumber, deviceTarget(devicePath));
}

void PortMap::mapToSimulated(int portNumber, ComPort *simulated)
{
    if (isPortNumber(portNumber)) {
        PortTarget target;
        target.kind = PortTarget::Kind::Simulated;
        target.simulated = simulated;
        m_overrides.insert(portNumber, target);
    }
}

void PortMap::mapToFtdiSerial(int portNumber, const QString &serial)
{
    if (isPortNumber(portNumber)) {
        PortTarget target = deviceTarget(QString());
        target.fastMode = true;
        target.ftdiSerial = serial;
        m_overrides.insert(portNumber, target);
    }
}

void PortMap::setFastMode(int portNumber, bool on)
{
    if (isPortNumber(portNumber))
        m_modes[portNumber].fast = on;
}

void PortMap::setIdleWriteSkipping(int portNumber, std::optional<bool> skip)
{
    if (isPortNumber(portNumber))
        m_modes[portNumber].skipIdleWrites = skip;
}

bool PortMap::apply(const PortOverride &entry, ComPort *simulated)
{
    if (!entry.isValid() || !isPortNumber(entry.portNumber))
        return false;
    if (entry.fastMode)
        setFastMode(entry.portNumber, true);
    else if (!entry.ftdiSerial.isEmpty())
        mapToFtdiSerial(entry.portNumber, entry.ftdiSerial);
    else if (entry.simulated)
        mapToSimulated(entry.portNumber, simulated);
    else
        mapToDevice(entry.portNumber, entry.devicePath);
    return true;
}

void PortMap::clearOverride(int portNumber)
{
    m_overrides.remove(portNumber);
}

PortTarget PortMap::target(int portNumber) const
{
    if (!isPortNumber(portNumber))
        return {};
    const auto found = m_overrides.constFind(portNumber);
    PortTarget result =
        found != m_overrides.cend() ? *found : deviceTarget(defaultDevicePath(portNumber));
    const Modes modes = m_modes.value(portNumber);
    result.fastMode = result.kind == PortTarget::Kind::Device && (result.fastMode || modes.fast);
    result.skipIdleWrites = modes.skipIdleWrites;
    return result;
}

PortDescription PortMap::describe(int portNumber) const
{
    return describe(portNumber, QSerialPortInfo::availablePorts());
}

QList<PortDescription> PortMap::describeAll() const
{
    const QList<QSerialPortInfo> systemPorts = QSerialPortInfo::availablePorts();
    QList<PortDescription> all;
    for (int n = firstPortNumber; n <= lastPortNumber; ++n)
        all.append(describe(n, systemPorts));
    return all;
}

PortDescription PortMap::describe(int portNumber, const QList<QSerialPortInfo> &systemPorts) const
{
    PortDescription result;
    result.name = portName(portNumber);
    const PortTarget where = target(portNumber);
    switch (where.kind) {
    case PortTarget::Kind::None:
        break;
    case PortTarget::Kind::Simulated:
        result.description = QObject::tr("simulated evaluation board");
        break;
    case PortTarget::Kind::Device: {
        result.location = where.devicePath;
        // A /dev/serial/by-id link names the same device as the node the system lists.
        const QString canonical = QFileInfo(where.devicePath).canonicalFilePath();
        for (const QSerialPortInfo &info : systemPorts) {
            const QString location = info.systemLocation();
            if (location == where.devicePath || info.portName() == where.devicePath ||
                (!canonical.isEmpty() && location == canonical)) {
                result.description = joinedDescription(info);
                break;
            }
        }
        break;
    }
    }
    return result;
}

} // namespace port
