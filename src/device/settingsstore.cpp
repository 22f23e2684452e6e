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

// QSettings keeps the first error it meets for as long as it lives, so every operation works on
// a view of its own and that view's status is the outcome of that operation alone.
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

// Writes what has been set on the view and tells whether it reached the file ("" when it did).
QString syncProblem(QSettings &settings, QSettings::Status statusAtOpen)
{
    settings.sync();
    if (statusAtOpen == QSettings::FormatError) {
        // A view that opened a damaged file keeps reporting that even after it has rewritten
        // the file whole; whether the rewrite worked shows in a view opened afterwards.
        return problemOf(freshView(settings)->status());
    }
    return problemOf(settings.status());
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

bool SettingsStore::loadSettings(DeviceModel &model, qint16 &portNumber, qint32 &bitRate)
{
    // Steps already taken keep their values; the rest take these.
    const auto fail = [&](const QString &reason) {
        m_lastError = reason;
        model.defaultDir = fallbackFolder();
        model.a0Pin = QStringLiteral("1");
        model.vsup = 5;
        model.vlow = 0;
        portNumber = 1;
        bitRate = 9600;
        return false;
    };

    m_settings = freshView(*m_settings);
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
    const std::optional<qint64> port = roundToInteger(leadingNumber(portText), 16);
    if (!port) {
        return fail(
            QStringLiteral("The stored port number \"%1\" in %2 does not fit a 16-bit integer")
                .arg(portText, location()));
    }
    portNumber = qint16(*port);

    const QString bitRateText = storedText(settings, bitRateKey);
    const std::optional<qint64> rate = roundToInteger(leadingNumber(bitRateText), 32);
    if (!rate) {
        return fail(QStringLiteral("The stored bit rate \"%1\" in %2 does not fit a 32-bit integer")
                        .arg(bitRateText, location()));
    }
    bitRate = qint32(*rate);

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
    m_settings = freshView(*m_settings);
    const QSettings::Status statusAtOpen = m_settings->status();
    m_settings->setValue(defaultDirKey, folder);
    const QString problem = syncProblem(*m_settings, statusAtOpen);
    if (!problem.isEmpty()) {
        m_lastError = QStringLiteral("Cannot store the folder in %1: %2").arg(location(), problem);
        return false;
    }
    m_lastError.clear();
    return true;
}

bool SettingsStore::saveAtExit(const DeviceModel &model, qint16 portNumber, qint32 bitRate)
{
    m_settings = freshView(*m_settings);
    const QSettings::Status statusAtOpen = m_settings->status();
    m_settings->setValue(vrefHighKeys[0], numberText(model.vrefHigh[0]));
    m_settings->setValue(vrefHighKeys[1], numberText(model.vrefHigh[1]));
    m_settings->setValue(a0Key, model.a0Pin);
    m_settings->setValue(portNumberKey, QString::number(portNumber));
    m_settings->setValue(bitRateKey, QString::number(bitRate));
    const QString problem = syncProblem(*m_settings, statusAtOpen);
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
