// SPDX-License-Identifier: MIT
#pragma once

#include "device/devicemodel.h"

#include <QHash>
#include <QString>
#include <memory>
#include <optional>

class QSettings;

namespace device {

// The port the store keeps: a COM number and a bit rate.
struct StoredPort
{
    qint16 portNumber = 0;
    qint32 bitRate = 0;
};

// The six values that survive between runs, in a per-user store of the application
// "KALVENTA". Each of five values has a section of its own holding one short numeric key:
//   [vref_high0] 10 = " 10"   [vref_high1] 10 = " 3.3"   [a0] 1 = "0"
//   [PortNumb] 2 = "5"        [BitRate] 3 = "9600"       [Startup] Default_Dir = "/data/"
// Besides them, per-port on/off choices live in sections of their own, one key per port:
//   [FastMode] COM5 = "1"
class SettingsStore
{
public:
    // The user's store: KALVENTA/KALVENTA.ini in the user's configuration folder.
    SettingsStore();
    // A store of its own in an INI file (the simulated board's demo store, tests).
    explicit SettingsStore(const QString &iniFile);
    // Only a regular file of at most 1 MiB is ever read or written. A device as the store (a
    // link to /dev/null) reads as unreadable and takes every write without keeping it; any other
    // file that is not a regular one (FIFO, folder, dangling link) is neither read nor written.
    ~SettingsStore();

    // Reads all six values into the model and the port. A store that cannot be read, or a number
    // that does not fit its integer type, ends the load at that step with the fallback values
    // (values read before stay); the result is then false.
    bool loadSettings(DeviceModel &model, StoredPort &port);

    bool saveDefaultDir(const QString &folder);
    // The five values written when the program ends.
    bool saveAtExit(const DeviceModel &model, const StoredPort &port);

    // A port's on/off choice in `section` ("1" or "0" under the key "COM5"): nothing when it was
    // never made, or when the store cannot be read (then lastError says why).
    std::optional<bool> portChoice(const QString &section, int portNumber);
    // Every choice made in `section`, by port number, read in one pass.
    QHash<int, bool> portChoices(const QString &section);
    bool savePortChoice(const QString &section, int portNumber, bool on);
    // The register-set files used last, newest first: [RecentFiles] File1 = "/data/a.csv", ...
    // Nothing when the store cannot be read.
    static constexpr int recentFileLimit = 8;
    QStringList recentFiles();
    bool saveRecentFiles(const QStringList &paths);

    QString location() const;
    QString lastError() const { return m_lastError; }

private:
    // Opens or refreshes the reading view once the file has been checked; "" when it reads.
    QString readProblem();

    QString m_path;
    // Made at the first load or write, once the file has been checked.
    std::unique_ptr<QSettings> m_settings;
    QString m_lastError;
};

} // namespace device
