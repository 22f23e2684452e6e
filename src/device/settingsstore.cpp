// SPDX-License-Identifier: MIT
#include "device/settingsstore.h"

#include "device/numbertext.h"
#include "device/regularfile.h"

#include <QSettings>
#include <QStandardPaths>
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

// "FastMode/COM5": one key per port in a section of the choice's own, apart from the six values.
QString portChoiceKey(const QString &section, int portNumber)
{
    return QStringLiteral("%1/COM%2").arg(section).arg(portNumber);
}

constexpr int maxRecentFiles = SettingsStore::recentFileLimit;

QString recentFileKey(int number)
{
    return QStringLiteral("RecentFiles/File%1").arg(number);
}

// Where file dialogs open after a failed load: the root of the file system.
QString fallbackFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\");
#else
    return QStringLiteral("/");
#endif
}

// Six short values take a few hundred bytes; a file far beyond that is no settings file, and
// QSettings would read all of it into memory.
constexpr qint64 maxStoreSize = 1 << 20;

// The file QSettings uses for the application "KALVENTA" in the user's scope. The store opens it
// by name, so QSettings reads no other file (its scope fallbacks) that has not been checked.
QString userStorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/KALVENTA/KALVENTA.ini");
}

// QSettings reads the whole file when a view opens and whenever a sync finds it changed, with a
// blocking read: so no view is made before the file has been found to be a regular file of sane
// size, or nothing QSettings could open (not there yet, or behind a folder it cannot enter: it
// reads as empty and a write fails with QSettings' own complaint).
bool isSafeToOpen(const FileCheck &file)
{
    return file.kind == FileKind::Missing || file.kind == FileKind::Regular ||
           file.kind == FileKind::Unreachable;
}

// A view of the store. QSettings shares one parsed copy of a file among all views of it in the
// process, so a new view sees the file as the others do.
std::unique_ptr<QSettings> openView(const QString &path)
{
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
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
// Nothing is ever written through a file that is not a regular one: a device (a link to
// /dev/null keeps no settings) takes nothing, without complaint; anything else is refused.
template<typename SetValues>
QString writeThrough(std::unique_ptr<QSettings> &reader, const QString &path, SetValues setValues)
{
    const FileCheck file = checkFile(path, maxStoreSize);
    if (file.kind == FileKind::CharacterDevice)
        return {};
    if (!isSafeToOpen(file))
        return file.problem;
    std::unique_ptr<QSettings> writer = openView(path);
    const QSettings::Status statusAtOpen = writer->status();
    if (statusAtOpen == QSettings::AccessError)
        return problemOf(statusAtOpen);
    // Checked first, so that a write bound to fail leaves nothing pending in the shared copy of
    // the file for a later read to retry (and fail on).
    if (!writer->isWritable())
        return QStringLiteral("the file cannot be written");
    setValues(*writer);
    writer->sync();
    // A view that met a damaged file keeps saying so even after it has rewritten the file whole,
    // and QSettings parses sections only when they are used: the damage may show first while the
    // sync merges the file. A view opened afterwards tells whether the rewrite worked.
    if (writer->status() == QSettings::FormatError)
        writer = openView(path);
    if (writer->status() != QSettings::NoError)
        return problemOf(writer->status());
    reader = std::move(writer);
    return {};
}

// A stored integer that fits the given bits; otherwise nothing, and what is wrong in *problem.
std::optional<qint64> storedInteger(const QSettings &settings, const QString &key, int bits,
                                    const QString &what, const QString &location, QString *problem)
{
    const QString text = storedText(settings, key);
    const std::optional<qint64> value = roundToInteger(leadingNumber(text), bits);
    if (!value) {
        *problem = QStringLiteral("The stored %1 \"%2\" in %3 does not fit a %4-bit integer")
                       .arg(what, text, location, QString::number(bits));
    }
    return value;
}

// The stored port number and bit rate, or what is wrong with them.
QString readStoredPort(const QSettings &settings, const QString &location, StoredPort &port)
{
    QString problem;
    const auto number = storedInteger(settings, portNumberKey, 16, QStringLiteral("port number"),
                                      location, &problem);
    if (!number)
        return problem;
    const auto rate =
        storedInteger(settings, bitRateKey, 32, QStringLiteral("bit rate"), location, &problem);
    if (!rate)
        return problem;
    port = {qint16(*number), qint32(*rate)};
    return {};
}

} // namespace

SettingsStore::SettingsStore() : m_path(userStorePath()) {}

SettingsStore::SettingsStore(const QString &iniFile) : m_path(iniFile) {}

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

    const QString problem = readProblem();
    if (!problem.isEmpty())
        return fail(QStringLiteral("Cannot read the settings in %1: %2").arg(location(), problem));
    const QSettings &settings = *m_settings;

    model.defaultDir = storedText(settings, defaultDirKey);
    model.vrefHigh[0] = leadingNumber(storedText(settings, vrefHighKeys[0]));
    model.vrefLow[0] = 0;
    model.vrefHigh[1] = leadingNumber(storedText(settings, vrefHighKeys[1]));
    model.vrefLow[1] = 0;
    model.a0Pin = storedText(settings, a0Key);

    const QString portProblem = readStoredPort(settings, location(), port);
    if (!portProblem.isEmpty())
        return fail(portProblem);

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
        m_settings, m_path, [&](QSettings &settings) { settings.setValue(defaultDirKey, folder); });
    if (!problem.isEmpty()) {
        m_lastError = QStringLiteral("Cannot store the folder in %1: %2").arg(location(), problem);
        return false;
    }
    m_lastError.clear();
    return true;
}

bool SettingsStore::saveAtExit(const DeviceModel &model, const StoredPort &port)
{
    const QString problem = writeThrough(m_settings, m_path, [&](QSettings &settings) {
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

std::optional<bool> SettingsStore::portChoice(const QString &section, int portNumber)
{
    const QHash<int, bool> choices = portChoices(section);
    const auto found = choices.constFind(portNumber);
    return found != choices.cend() ? std::optional(*found) : std::nullopt;
}

QHash<int, bool> SettingsStore::portChoices(const QString &section)
{
    QHash<int, bool> choices;
    const QString problem = readProblem();
    if (!problem.isEmpty()) {
        m_lastError =
            QStringLiteral("Cannot read the port choices in %1: %2").arg(location(), problem);
        return choices;
    }
    m_lastError.clear();
    m_settings->beginGroup(section);
    const QStringList keys = m_settings->childKeys();
    m_settings->endGroup();
    for (const QString &key : keys) {
        bool isNumber = false;
        const int portNumber =
            key.startsWith(QLatin1String("COM")) ? key.mid(3).toInt(&isNumber) : 0;
        // Anything but the two texts the program writes counts as no choice: the default holds.
        const QString text = storedText(*m_settings, portChoiceKey(section, portNumber));
        if (isNumber && (text == QLatin1String("1") || text == QLatin1String("0")))
            choices.insert(portNumber, text == QLatin1String("1"));
    }
    return choices;
}

bool SettingsStore::savePortChoice(const QString &section, int portNumber, bool on)
{
    const QString problem = writeThrough(m_settings, m_path, [&](QSettings &settings) {
        settings.setValue(portChoiceKey(section, portNumber),
                          on ? QStringLiteral("1") : QStringLiteral("0"));
    });
    if (!problem.isEmpty()) {
        m_lastError =
            QStringLiteral("Cannot store the port choice in %1: %2").arg(location(), problem);
        return false;
    }
    m_lastError.clear();
    return true;
}

QStringList SettingsStore::recentFiles()
{
    QStringList paths;
    if (!readProblem().isEmpty())
        return paths;
    for (int i = 1; i <= maxRecentFiles; ++i) {
        const QString path = storedText(*m_settings, recentFileKey(i));
        if (!path.isEmpty())
            paths.append(path);
    }
    return paths;
}

bool SettingsStore::saveRecentFiles(const QStringList &paths)
{
    const QString problem = writeThrough(m_settings, m_path, [&](QSettings &settings) {
        for (int i = 1; i <= maxRecentFiles; ++i) {
            if (i <= paths.size())
                settings.setValue(recentFileKey(i), paths[i - 1]);
            else
                settings.remove(recentFileKey(i));
        }
    });
    if (!problem.isEmpty()) {
        m_lastError =
            QStringLiteral("Cannot store the recent files in %1: %2").arg(location(), problem);
        return false;
    }
    m_lastError.clear();
    return true;
}

QString SettingsStore::readProblem()
{
    const FileCheck file = checkFile(m_path, maxStoreSize);
    if (!isSafeToOpen(file))
        return file.problem;
    if (!m_settings)
        m_settings = openView(m_path);
    // Picks up what another instance of the program may have stored meanwhile. A store found
    // unreadable stays so for this object until a write of its own replaces the file.
    m_settings->sync();
    return problemOf(m_settings->status());
}

QString SettingsStore::location() const
{
    return m_path;
}

} // namespace device
