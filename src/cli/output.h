// SPDX-License-Identifier: MIT
#pragma once

#include "cli/exitstatus.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <utility>

class QTextStream;

namespace cli {

// Where the tool's words go. A command's result is given both ways, as one JSON object for
// programs and as text for people, and the output shows the one its user asked for. Failures
// and notes go to the error stream, prefixed with the program's name.
class Output
{
public:
    Output(QTextStream &out, QTextStream &err) : m_out(out), m_err(err) {}
    virtual ~Output() = default;
    Q_DISABLE_COPY_MOVE(Output)

    virtual void result(const QJsonObject &json, const QString &text) = 0;
    // Text for people that programs get inside the failure that follows it (what a stopped
    // command did before it stopped).
    virtual void textOnly(const QString &text) = 0;
    // Everything the standard output holds goes out first, so the two streams keep their order.
    // details go into the JSON object of a failure.
    virtual void failure(ExitStatus status, const QString &message,
                         const QJsonObject &details = {});
    virtual void note(const QString &message);

    // Put before every failure: "file:line: " while a script runs.
    void setContext(const QString &context) { m_context = context; }
    // The command whose object comes next, and its script line (0 on the command line). Empty
    // before any command is known.
    void setCommand(const QString &name, int line)
    {
        m_command = name;
        m_line = line;
    }

protected:
    QTextStream &m_out;
    QTextStream &m_err;
    QString m_context;
    QString m_command;
    int m_line = 0;
};

// Text for people.
class TextOutput : public Output
{
public:
    using Output::Output;
    void result(const QJsonObject &json, const QString &text) override;
    void textOnly(const QString &text) override { result({}, text); }
};

// One compact JSON object per line, for programs: a failure is one too, so that a program
// reading standard output always learns how the run ended. Every object carries the keys that
// docs/cli-json.md lists for all of them; a command leaves out the ones it has nothing for and
// they come as null.
class JsonOutput : public Output
{
public:
    static constexpr int schemaVersion = 1;

    using Output::Output;
    void result(const QJsonObject &json, const QString &text) override;
    void textOnly(const QString &) override {}
    void failure(ExitStatus status, const QString &message,
                 const QJsonObject &details = {}) override;
};

// Kept for a program that runs the session itself, command by command (the Python module):
// the last command's result or failure and its notes, nothing written anywhere.
class KeptOutput : public Output
{
public:
    using Output::Output;
    void result(const QJsonObject &json, const QString &text) override;
    void textOnly(const QString &) override {}
    void failure(ExitStatus status, const QString &message,
                 const QJsonObject &details = {}) override;
    void note(const QString &message) override { m_notes.append(message); }

    // Forgets the last command's words before the next one.
    void clear();
    ExitStatus status() const { return m_status; }
    const QString &message() const { return m_message; }
    // The result, or the failure's details.
    const QJsonObject &json() const { return m_json; }
    const QString &text() const { return m_text; }
    // The notes so far, which are then forgotten; the result or failure stays.
    QStringList takeNotes() { return std::exchange(m_notes, {}); }

private:
    ExitStatus m_status = ExitStatus::Ok;
    QString m_message;
    QJsonObject m_json;
    QString m_text;
    QStringList m_notes;
};

} // namespace cli
