// SPDX-License-Identifier: MIT
#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace port {
class PortMap;
struct PortTarget;
} // namespace port

namespace control {

class BurnReport;

// Where a burn went and who sent it, beside what the report tells.
struct BurnSource
{
    QString program; // "kalventa-cli 1.0.5"
    QString port;    // "COM5 (/dev/ttyUSB0)"
    QString adapter; // "FT232R USB UART, serial A10K3XYZ"; empty without a USB adapter
};

// Every burn, from the windows or the command-line tool, one line each, appended and never
// rewritten: OTP cells cannot be unburned, so months later a user must still be able to tell
// what went into a board and whether it verified. A line is one compact JSON object; a reader
// skips lines it cannot read (a line cut off by a power loss) and says how many it skipped.
class BurnLog
{
    Q_DECLARE_TR_FUNCTIONS(BurnLog)

public:
    explicit BurnLog(QString path = defaultPath());

    // "burns.log" in the user's data folder, shared by both programs.
    static QString defaultPath();
    QString path() const { return m_path; }

    // Why a line could not be appended now, empty when it can. Creates the folder; writes
    // nothing to the log itself.
    QString writeProblem() const;

    // What the log says of the port a COM number leads to, for `program` ("kalventa 1.0.5").
    static BurnSource sourceOf(const QString &program, const port::PortMap &map, int portNumber);
    // The USB adapter behind a port, with its serial number; empty for anything else.
    static QString adapterText(const port::PortTarget &target);

    // The JSON object of one burn, as the log and the tool's --json give it.
    static QJsonObject burnObject(const BurnReport &report);
    // One line of the log: the time, the source and the burn.
    static QJsonObject entryOf(const BurnReport &report, const BurnSource &source,
                               const QDateTime &time = QDateTime::currentDateTimeUtc());

    // Appends one line and flushes it to the disk before it returns. False with the reason.
    bool append(const QJsonObject &entry, QString *error) const;

    struct Contents
    {
        QList<QJsonObject> entries; // oldest first
        int unreadableLines = 0;
    };
    // Nothing with the reason when the log cannot be read; a missing log is an empty one.
    std::optional<Contents> read(QString *error) const;

    // The whole log for a person, one entry after the other; or why it cannot be read.
    QString text() const;
    // One entry for a person: the time, where, A0, the verdict, the max banks, then the codes.
    static QString entryText(const QJsonObject &entry);

private:
    QString m_path;
};

} // namespace control
