// SPDX-License-Identifier: MIT
#include "cli/output.h"

#include <QJsonDocument>
#include <QTextStream>

namespace cli {

namespace {
const QString programName = QStringLiteral("kalventa-cli");
}

void Output::failure(ExitStatus, const QString &message, const QJsonObject &)
{
    m_out.flush();
    m_err << programName << ": " << m_context << message << Qt::endl;
}

void Output::note(const QString &message)
{
    m_err << programName << ": " << message << Qt::endl;
}

void TextOutput::result(const QJsonObject &, const QString &text)
{
    m_out << text;
    m_out.flush();
}

void JsonOutput::result(const QJsonObject &json, const QString &)
{
    QJsonObject object = json;
    const auto fill = [&object](const QString &key, const QJsonValue &value) {
        if (!object.contains(key))
            object.insert(key, value);
    };
    const QJsonValue null(QJsonValue::Null);
    fill(QStringLiteral("schema"), schemaVersion);
    fill(QStringLiteral("command"), m_command.isEmpty() ? null : QJsonValue(m_command));
    fill(QStringLiteral("line"), m_line > 0 ? QJsonValue(m_line) : null);
    fill(QStringLiteral("ok"), true);
    fill(QStringLiteral("exitStatus"), 0);
    fill(QStringLiteral("error"), null);
    fill(QStringLiteral("stoppedBy"), null);
    fill(QStringLiteral("a0"), null);
    fill(QStringLiteral("vsup"), null);
    m_out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    m_out.flush();
}

void JsonOutput::failure(ExitStatus status, const QString &message, const QJsonObject &details)
{
    QJsonObject json = details;
    json.insert(QStringLiteral("ok"), false);
    json.insert(QStringLiteral("error"), m_context + message);
    json.insert(QStringLiteral("exitStatus"), exitCode(status));
    result(json, {});
    Output::failure(status, message);
}

void KeptOutput::result(const QJsonObject &json, const QString &text)
{
    m_json = json;
    m_text = text;
}

void KeptOutput::failure(ExitStatus status, const QString &message, const QJsonObject &details)
{
    m_status = status;
    m_message = m_context + message;
    m_json = details;
}

void KeptOutput::clear()
{
    m_status = ExitStatus::Ok;
    m_message.clear();
    m_json = {};
    m_text.clear();
    m_notes.clear();
}

} // namespace cli
