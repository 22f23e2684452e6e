#include "device/settingsstore.h"

#include "device/numbertext.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace device {
namespace {

// Section and key of each value, as the store has always held them.
const QString defaultDirKey = QStringLiteral("Startup/Default_Dir");
const QString vrefHighKeys[2] = {QStringLiteral("vref_high0/10"), QStringLiteral("vref_high1/10")};
const QString a0Key = QStringLiteral("a0/1");
const QString portNumberKey = QStringLiteral("PortNumb/2");
const QString bitRateKey = QStringLiteral("BitRate/3");

// Where file dialogs open after a failed load: the root of the file system.
QString fallbackFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\");
#else
    return QStringLiteral("/");
#endif
}

// A second view of the same store. QSettings shares one parsed copy of a file among all views
// of it in the process, so a new view sees the file as the others do.
std::unique_ptr<QSettings> freshView(const QSettings &settings)
{
    if (settings.applicationName().isEmpty())
        return std::make_unique<QSettings>(settings.fileName(), QSettings::IniFormat);
    return std::make_unique<QSettings>(settings.format(), settings.scope(),
                                       settings.organizationName(), settings.applicationName());
}

QString problemOf(QSettings::Status status)
{
    switch (status) {
    case QSettings::NoError:
        break;
    case QSettings::AccessError:
        return QStringLiteral("the file cannot be accessed");
    case QSettings::FormatError:
        return QStringLiteral("the file is not a valid settings file");
    }
    return {};
}

// Every value is text; a missing one reads as the empty text.
QString storedText(const QSettings &settings, const QString &key)
{
    const QVariant value = settings.value(key, QString());
    // The INI reader splits an unquoted text at its commas; it was stored as one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

// QSettings keeps the first error a view meets for the rest of the view's life. So every write
// goes through a view of its own: the reading view must not inherit a failed write, and a write
// must not inherit the reading view's complaint about a damaged file that it is about to replace.
// On success the writing view becomes the reading view. Returns the problem, "" when none.
template<typename SetValues>
QString writeThrough(std::unique_ptr<QSettings> &reader, SetValues setValues)
{
    std::unique_ptr<QSettings> writer = freshView(*reader);
    const QSettings::Status statusAtOpen = writer->status();
    if (statusAtOpen == QSettings::AccessError)
        return problemOf(statusAtOpen);
    // Checked first, so that a write bound to fail leaves nothing pending in the shared copy of
    // the file for a later read to retry (and fail on).
    if (!writer->isWritable())
        return QStringLiteral("the file cannot be written");
    setValues(*writer);
    writer->sync();
    // A view that read a damaged file keeps saying so even after it has rewritten the file
    // whole; a view opened afterwards tells whether the rewrite worked.
    if (statusAtOpen == QSettings::FormatError)
        writer = freshView(*writer);
    if (writer->status() != QSettings::NoError)
        return problemOf(writer->status());
    reader = std::move(writer);
    return {};
}

} // namespace

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             QStringLiteral("KALVENTA"),
                                             QStringLiteral("KALVENTA")))
{}

SettingsStore::SettingsStore(const QString &iniFile)
    : m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat))
{}

SettingsStore::~SettingsStore() = default;

bool SettingsStore::loadSettings(DeviceModel &model, StoredPort &port)
{
    // Steps already taken keep their values; the rest take these.
    const auto fail = [&](const QString &reason) {
        m_lastError = reason;
        model.defaultDir = fallbackFolder();
        model.a0Pin = QStringLiteral("1");
        model.vsup = 5;
        model.vlow = 0;
        port = {1, 9600};
        return false;
    };

    // Picks up what another instance of the program may have stored meanwhile. A store found
    // unreadable stays so for this object until a write of its own replaces the file.
    m_settings->sync();
    const QSettings &settings = *m_settings;
    if (settings.status() != QSettings::NoError) {
        return fail(QStringLiteral("Cannot read the settings in %1: %2")
                        .arg(location(), problemOf(settings.status())));
    }

    model.defaultDir = storedText(settings, defaultDirKey);
    model.vrefHigh[0] = leadingNumber(storedText(settings, vrefHighKeys[0]));
    model.vrefLow[0] = 0;
    model.vrefHigh[1] = leadingNumber(storedText(settings, vrefHighKeys[1]));
    model.vrefLow[1] = 0;
    model.a0Pin = storedText(settings, a0Key);

    const QString portText = storedText(settings, portNumberKey);
    const std::optional<qint64> number = roundToInteger(leadingNumber(portText), 16);
    if (!number) {
        return fail(
            QStringLiteral("The stored port number \"%1\" in %2 does not fit a 16-bit integer")
                .arg(portText, location()));
    }
    port.portNumber = qint16(*number);

    const QString bitRateText = storedText(settings, bitRateKey);
    const std::optional<qint64> rate = roundToInteger(leadingNumber(bitRateText), 32);
    if (!rate) {
        return fail(QStringLiteral("The stored bit rate \"%1\" in %2 does not fit a 32-bit integer")
                        .arg(bitRateText, location()));
    }
    port.bitRate = qint32(*rate);

    // The A0 text becomes one character of the chip's address bit string, where any character
    // but "1" counts as 0. So an empty, hand-edited or damaged text reads as "0": the device it
    // would address, and the reference that belongs to that device.
    if (model.a0Pin != QLatin1String("1"))
        model.a0Pin = QStringLiteral("0");
    model.vsup = model.vrefHigh[model.a0Index()];
    model.vlow = 0;

    m_lastError.clear();
    return true;
}

bool SettingsStore::saveDefaultDir(const QString &folder)
{
    const QString problem = writeThrough(
        m_settings, [&](QSettings &settings) { settings.setValue(defaultDirKey, folder); });
    if (!problem.isEmpty()) {
        m_lastError = QStringLiteral("Cannot store the folder in %1: %2").arg(location(), problem);
        return false;
    }
    m_lastError.clear();
    return true;
}

bool SettingsStore::saveAtExit(const DeviceModel &model, const StoredPort &port)
{
    const QString problem = writeThrough(m_settings, [&](QSettings &settings) {
        settings.setValue(vrefHighKeys[0], numberText(model.vrefHigh[0]));
        settings.setValue(vrefHighKeys[1], numberText(model.vrefHigh[1]));
        settings.setValue(a0Key, model.a0Pin);
        settings.setValue(portNumberKey, QString::number(port.portNumber));
        settings.setValue(bitRateKey, QString::number(port.bitRate));
    });
    if (!problem.isEmpty()) {
        m_lastError =
            QStringLiteral("Cannot store the settings in %1: %2").arg(location(), problem);
        return false;
    }
    m_lastError.clear();
    return true;
}

QString SettingsStore::location() const
{
    return m_settings->fileName();
}

} // namespace device
