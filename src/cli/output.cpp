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
    m_out << QJsonDocument(json).toJson(QJsonDocument::Compact) << '\n';
    m_out.flush();
}

void JsonOutput::failure(ExitStatus status, const QString &message, const QJsonObject &details)
{
    QJsonObject json = details;
    json.insert(QStringLiteral("error"), m_context + message);
    json.insert(QStringLiteral("exitStatus"), exitCode(status));
    result(json, {});
    Output::failure(status, message);
}

} // namespace cli
