// SPDX-License-Identifier: MIT
#include "control/burnlog.h"

#include "control/burnreport.h"
#include "device/devicemodel.h"
#include "device/paths.h"
#include "device/regularfile.h"
#include "port/portmap.h"
#include "port/usbadapter.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QFile>
#endif

namespace control {

namespace {

using Verdict = BurnReport::Verdict;

// Years of burns fit; a file beyond this is no log of ours.
constexpr qint64 largestLog = qint64(64) << 20;

QString outcomeWord(Verdict verdict)
{
    switch (verdict) {
    case Verdict::NothingBurned:
        return QStringLiteral("nothing burned");
    case Verdict::Interrupted:
        return QStringLiteral("interrupted");
    case Verdict::NotVerified:
        return QStringLiteral("not verified");
    case Verdict::Verified:
        break;
    }
    return QStringLiteral("verified");
}

QJsonArray names(const QList<int> &channels)
{
    QJsonArray array;
    for (const int index : channels)
        array.append(device::channelLabel(index));
    return array;
}

// A value that was never read is null, never a number.
QJsonValue orNull(const std::optional<int> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString bankText(const QJsonValue &value)
{
    return value.isDouble() ? QString::number(value.toInt()) : BurnLog::tr("not read");
}

} // namespace

BurnLog::BurnLog(QString path) : m_path(std::move(path)) {}

QString BurnLog::defaultPath()
{
    // Not the application's own folder: both programs keep one log.
    return device::joinPath(
        device::joinPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                         QStringLiteral("kalventa")),
        QStringLiteral("burns.log"));
}

QString BurnLog::writeProblem() const
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return tr("its folder %1 cannot be made").arg(QDir::toNativeSeparators(folder));
    const device::FileCheck file = device::checkFile(m_path);
    if (file.kind == device::FileKind::Missing) {
        if (!QFileInfo(folder).isWritable())
            return tr("its folder %1 is not writable").arg(QDir::toNativeSeparators(folder));
        return {};
    }
    if (file.kind != device::FileKind::Regular)
        return file.problem;
    if (!QFileInfo(m_path).isWritable())
        return tr("it is not writable");
    return {};
}

BurnSource BurnLog::sourceOf(const QString &program, const port::PortMap &map, int portNumber)
{
    const port::PortTarget target = map.target(portNumber);
    BurnSource source;
    source.program = program;
    const QString name = port::PortMap::portName(portNumber);
    if (target.kind == port::PortTarget::Kind::Simulated)
        source.port = tr("%1 (simulated board)").arg(name);
    else if (!target.ftdiSerial.isEmpty())
        source.port = tr("%1 (FT232R %2, fast mode)").arg(name, target.ftdiSerial);
    else
        source.port = QStringLiteral("%1 (%2)").arg(name, target.devicePath);
    source.adapter = adapterText(target);
    return source;
}

QString BurnLog::adapterText(const port::PortTarget &target)
{
    if (!target.ftdiSerial.isEmpty())
        return tr("FT232R, serial %1").arg(target.ftdiSerial);
    if (target.kind != port::PortTarget::Kind::Device || target.devicePath.isEmpty())
        return {};
    const port::UsbAdapter adapter = port::usbAdapterOf(target.devicePath);
    if (!adapter.isUsb)
        return {};
    return QStringLiteral("%1 (%2:%3)%4")
        .arg(adapter.product.isEmpty() ? tr("USB adapter") : adapter.product)
        .arg(adapter.vendorId, 4, 16, QLatin1Char('0'))
        .arg(adapter.productId, 4, 16, QLatin1Char('0'))
        .arg(adapter.serial.isEmpty() ? QString() : tr(", serial %1").arg(adapter.serial));
}

QJsonObject BurnLog::burnObject(const BurnReport &report)
{
    const BurnResult &burned = report.result();
    QJsonArray sent;
    for (const int index : burned.channels) {
        sent.append(QJsonObject{{QStringLiteral("channel"), device::channelLabel(index)},
                                {QStringLiteral("register"), device::registerOfChannel(index)},
                                {QStringLiteral("sent"),
                                 BurnReport::codeOnTheWire(burned.codes[std::size_t(index - 1)])}});
    }
    QJsonArray notHolding;
    for (const BurnReport::Mismatch &m : report.mismatches()) {
        notHolding.append(QJsonObject{{QStringLiteral("channel"), device::channelLabel(m.index)},
                                      {QStringLiteral("burned"), m.burned},
                                      {QStringLiteral("reads"), orNull(m.read)}});
    }
    return {{QStringLiteral("a0"), burned.a0Pin.toInt()},
            {QStringLiteral("outcome"), outcomeWord(report.verdict())},
            {QStringLiteral("verified"), report.verified()},
            {QStringLiteral("channels"), sent},
            {QStringLiteral("maxBankBefore"), orNull(burned.maxBankBefore)},
            {QStringLiteral("maxBankAfter"), orNull(burned.maxBankAfter)},
            {QStringLiteral("burned"), names(report.burnedChannels())},
            {QStringLiteral("cutOff"),
             burned.interruptedIndex ? names({burned.interruptedIndex}) : QJsonArray()},
            {QStringLiteral("notSent"), names(report.notSentChannels())},
            {QStringLiteral("unacknowledged"), names(burned.unacknowledged)},
            {QStringLiteral("notHolding"), notHolding},
            {QStringLiteral("portFailure"),
             burned.portHeld() ? QJsonValue(QJsonValue::Null) : QJsonValue(burned.portFailure)},
            {QStringLiteral("cause"), burned.busHeld ? QJsonValue(QStringLiteral("SDA held low"))
                                                     : QJsonValue(QJsonValue::Null)}};
}

QJsonObject BurnLog::entryOf(const BurnReport &report, const BurnSource &source,
                             const QDateTime &time)
{
    QJsonObject entry{{QStringLiteral("time"), time.toUTC().toString(Qt::ISODate)},
                      {QStringLiteral("program"), source.program},
                      {QStringLiteral("port"), source.port},
                      {QStringLiteral("adapter"), source.adapter}};
    const QJsonObject burn = burnObject(report);
    for (auto it = burn.begin(); it != burn.end(); ++it)
        entry.insert(it.key(), it.value());
    return entry;
}

bool BurnLog::append(const QJsonObject &entry, QString *error) const
{
    const QString problem = writeProblem();
    if (!problem.isEmpty()) {
        *error =
            tr("Cannot write the burn log %1: %2").arg(QDir::toNativeSeparators(m_path), problem);
        return false;
    }
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    const auto failed = [this, error](const QString &reason) {
        *error =
            tr("Cannot write the burn log %1: %2").arg(QDir::toNativeSeparators(m_path), reason);
        return false;
    };
#ifdef Q_OS_UNIX
    // Appended in one write and synced: an earlier line is never touched, and a power loss
    // costs at most this one. Non-blocking, so that a FIFO put there meanwhile cannot hang us.
    const bool existed = QFileInfo::exists(m_path);
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return failed(systemError());
    struct stat info
    {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return failed(tr("it is not a regular file"));
    }
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n =
            ::write(fd, line.constData() + written, std::size_t(line.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const QString reason = systemError();
            ::close(fd);
            return failed(reason);
        }
        written += n;
    }
    const bool synced = ::fsync(fd) == 0;
    const QString syncError = synced ? QString() : systemError();
    if (::close(fd) != 0 || !synced)
        return failed(syncError.isEmpty() ? systemError() : syncError);
    if (!existed) {
        // The new name is only durable once its folder is.
        const int folder = ::open(QFile::encodeName(QFileInfo(m_path).absolutePath()).constData(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
    }
#else
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size() ||
        !file.flush())
        return failed(file.errorString());
#endif
    return true;
}

std::optional<BurnLog::Contents> BurnLog::read(QString *error) const
{
    Contents contents;
    if (device::checkFile(m_path).kind == device::FileKind::Missing)
        return contents;
    const std::optional<QByteArray> bytes = device::readRegularFile(m_path, largestLog, error);
    if (!bytes)
        return std::nullopt;
    for (const QByteArray &line : bytes->split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            contents.entries.append(document.object());
        else
            ++contents.unreadableLines;
    }
    return contents;
}

QString BurnLog::text() const
{
    QString error;
    const std::optional<Contents> contents = read(&error);
    if (!contents)
        return error;
    if (contents->entries.isEmpty())
        return tr("No burn is logged in %1.").arg(QDir::toNativeSeparators(m_path));
    QStringList entries;
    for (const QJsonObject &entry : contents->entries)
        entries.append(entryText(entry));
    if (contents->unreadableLines > 0)
        entries.append(
            tr("(%1 line(s) of the log do not read as a burn.)").arg(contents->unreadableLines));
    return entries.join(u'\n');
}

QString BurnLog::entryText(const QJsonObject &entry)
{
    QString text = tr("%1  %2  %3  A0 = %4  %5, max bank %6 -> %7")
                       .arg(entry.value(QStringLiteral("time")).toString(),
                            entry.value(QStringLiteral("program")).toString(),
                            entry.value(QStringLiteral("port")).toString())
                       .arg(entry.value(QStringLiteral("a0")).toInt())
                       .arg(entry.value(QStringLiteral("outcome")).toString(),
                            bankText(entry.value(QStringLiteral("maxBankBefore"))),
                            bankText(entry.value(QStringLiteral("maxBankAfter"))));
    const QString adapter = entry.value(QStringLiteral("adapter")).toString();
    if (!adapter.isEmpty())
        text += tr("\n    adapter: %1").arg(adapter);
    QStringList codes;
    for (const QJsonValue &channel : entry.value(QStringLiteral("channels")).toArray()) {
        const QJsonObject c = channel.toObject();
        codes.append(QStringLiteral("%1=%2")
                         .arg(c.value(QStringLiteral("channel")).toString())
                         .arg(c.value(QStringLiteral("sent")).toInt()));
    }
    text += tr("\n    codes: %1").arg(codes.join(u' '));
    for (const QJsonValue &value : entry.value(QStringLiteral("notHolding")).toArray()) {
        const QJsonObject m = value.toObject();
        text += tr("\n    channel %1 was burned with %2 and reads %3")
                    .arg(m.value(QStringLiteral("channel")).toString())
                    .arg(m.value(QStringLiteral("burned")).toInt())
                    .arg(m.value(QStringLiteral("reads")).isDouble()
                             ? QString::number(m.value(QStringLiteral("reads")).toInt())
                             : tr("nothing (not read back)"));
    }
    return text;
}

} // namespace control
