// SPDX-License-Identifier: MIT
#include "cli/clisession.h"
#include "device/settingsstore.h"
#include "missingdeviceports.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

// Every command's --json object against the schema document: each key documented, of its
// documented type, none missing, and exactly one object per command.
namespace {

// Section name (a command, "Every object", "Channel objects", "failures") to key to type.
using Schema = QHash<QString, QHash<QString, QString>>;

Schema readSchema()
{
    Schema schema;
    QFile file(QStringLiteral(KALVENTA_JSON_SCHEMA));
    if (!file.open(QIODevice::ReadOnly))
        return schema;
    static const QRegularExpression heading(QStringLiteral("^#{2,3} `?([^`]+)`?$"));
    static const QRegularExpression row(QStringLiteral("^\\| `([A-Za-z0-9]+)` \\| ([^|]+) \\|"));
    QString section;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (const QRegularExpressionMatch m = heading.match(line); m.hasMatch()) {
            section = m.captured(1);
            schema[section]; // a command without keys of its own is documented too
        } else if (const QRegularExpressionMatch r = row.match(line); r.hasMatch())
            schema[section].insert(r.captured(1), r.captured(2).trimmed());
    }
    return schema;
}

bool hasType(const QJsonValue &value, const QString &type)
{
    if (type.endsWith(QLatin1String(" or null")))
        return value.isNull() || hasType(value, type.chopped(8));
    if (type == QLatin1String("integer"))
        return value.isDouble() && value.toDouble() == double(value.toInteger());
    if (type == QLatin1String("number"))
        return value.isDouble();
    if (type == QLatin1String("string"))
        return value.isString();
    if (type == QLatin1String("boolean"))
        return value.isBool();
    if (type.startsWith(QLatin1String("array of "))) {
        if (!value.isArray())
            return false;
        const QString of = type.mid(9);
        for (const QJsonValue &element : value.toArray()) {
            if ((of == QLatin1String("strings") && !element.isString()) ||
                (of != QLatin1String("strings") && !element.isObject()))
                return false;
        }
        return true;
    }
    return false;
}

// Why the object does not fit the schema; empty when it does.
QString misfit(const Schema &schema, const QJsonObject &object)
{
    const QHash<QString, QString> &common = schema.value(QStringLiteral("Every object"));
    for (auto it = common.cbegin(); it != common.cend(); ++it) {
        if (!object.contains(it.key()) || !hasType(object.value(it.key()), it.value()))
            return QStringLiteral("common key %1 is missing or not %2").arg(it.key(), it.value());
    }
    const QString command = object.value(QStringLiteral("command")).toString();
    if (!command.isEmpty() && !schema.contains(command))
        return QStringLiteral("command %1 is not documented").arg(command);
    const QHash<QString, QString> &own = schema.value(command);
    const bool ok = object.value(QStringLiteral("ok")).toBool();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        QString type = common.value(it.key(), own.value(it.key()));
        if (type.isEmpty() && !ok)
            type = schema.value(QStringLiteral("failures")).value(it.key());
        if (type.isEmpty())
            return QStringLiteral("%1: key %2 is not documented").arg(command, it.key());
        if (!hasType(it.value(), type))
            return QStringLiteral("%1: key %2 is not %3").arg(command, it.key(), type);
        if (type.contains(QLatin1String("array of channels"))) {
            for (const QJsonValue &channel : it.value().toArray()) {
                const QHash<QString, QString> &keys =
                    schema.value(QStringLiteral("Channel objects"));
                const QJsonObject c = channel.toObject();
                if (c.keys().size() != keys.size())
                    return QStringLiteral("%1: a channel has keys %2")
                        .arg(command, c.keys().join(u','));
                for (auto k = keys.cbegin(); k != keys.cend(); ++k) {
                    if (!c.contains(k.key()) || !hasType(c.value(k.key()), k.value()))
                        return QStringLiteral("%1: channel key %2 is not %3")
                            .arg(command, k.key(), k.value());
                }
            }
        }
    }
    if (ok) {
        for (auto it = own.cbegin(); it != own.cend(); ++it) {
            if (!object.contains(it.key()))
                return QStringLiteral("%1: key %2 is missing").arg(command, it.key());
        }
    }
    return {};
}

} // namespace

class TestCliJson : public QObject
{
    Q_OBJECT

private slots:
    void theDocumentIsRead()
    {
        const Schema schema = readSchema();
        QVERIFY(schema.value(QStringLiteral("Every object")).contains(QStringLiteral("schema")));
        QCOMPARE(schema.value(QStringLiteral("Channel objects")).size(), 9);
        QVERIFY(schema.contains(QStringLiteral("otp-all")));
    }

    void everyObjectFitsTheDocument_data()
    {
        QTest::addColumn<QStringList>("lines"); // a script's lines, or one command's arguments
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("objects");
        const auto row = [](const char *name, const QStringList &lines, int objects,
                            const QString &fault = {}) {
            QTest::newRow(name) << lines << fault << objects;
        };
        row("every command that works",
            {"read", "get 5", "code 5 0x100 --verify", "set 0x04 1 --verify",
             "load set.csv --verify", "save saved.csv", "verify set.csv", "reset", "otp 5 --yes",
             "otp-all --yes", "burns", "play --delay 0 --loop 2 set.csv set.csv", "marker",
             "sleep 0", "scan", "selftest", "help"},
            17);
        row("ports", {"!ports"}, 1);
        row("a bad option", {"!--a0", "2", "read"}, 1);
        row("a bad script line", {"read", "get 23"}, 1);
        row("a register that differs", {"code 5 7", "verify set.csv"}, 2);
        row("a silent chip", {"read"}, 1, QStringLiteral("silent"));
        row("a failing burn", {"code 5 9", "otp 5 --yes"}, 2, QStringLiteral("dead-cell=5"));
        row("no bank left", {"otp-all --yes", "otp-all --yes", "otp-all --yes", "otp 1 --yes"}, 4);
        row("SDA held", {"read"}, 1, QStringLiteral("dsr-stuck"));
        row("a load that no longer reads", {"load set.csv"}, 1, QStringLiteral("remove"));
        row("a failing self-test", {"selftest"}, 1, QStringLiteral("dsr-stuck"));
    }

    void everyObjectFitsTheDocument()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, fault);
        QFETCH(int, objects);
        QTemporaryDir dir;
        device::SettingsStore settings(dir.filePath(QStringLiteral("settings.ini")));
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        cli::CliSession session(settings, outStream, errStream);
        session.setPortMap(missingDevicePorts(dir));
        session.setBurnLogPath(dir.filePath(QStringLiteral("burns.log")));
        QByteArray set = "10\r\n";
        for (int i = 0; i < 24; ++i)
            set += "512.7\r\n";
        QFile file(dir.filePath(QStringLiteral("set.csv")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(set) == set.size());
        file.close();

        QStringList arguments{
            QStringLiteral("kalventa-cli"), QStringLiteral("--port"), QStringLiteral("sim"),
            QStringLiteral("--a0"),         QStringLiteral("0"),      QStringLiteral("--vsup"),
            QStringLiteral("10"),           QStringLiteral("--json")};
        if (fault == QLatin1String("silent"))
            session.simulatedBoard().setChipPresent(0, false);
        else if (!fault.isEmpty() && fault != QLatin1String("remove"))
            arguments << QStringLiteral("--sim-fault") << fault;
        if (lines.first().startsWith(u'!')) {
            lines.first().remove(0, 1);
            arguments += lines;
        } else {
            QFile script(dir.filePath(QStringLiteral("script.txt")));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write(lines.join(u'\n').toUtf8());
            script.close();
            arguments << QStringLiteral("script") << script.fileName();
        }
        QDir::setCurrent(dir.path());
        if (fault == QLatin1String("remove")) {
            // Checked before the bus moved, gone when its line runs.
            session.setStopSignal([&file] {
                file.remove();
                return 0;
            });
        }
        session.run(arguments);

        const Schema schema = readSchema();
        const QStringList written = out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(written.size(), objects);
        for (const QString &line : written) {
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
            QVERIFY2(document.isObject(), qPrintable(line));
            const QString problem = misfit(schema, document.object());
            QVERIFY2(problem.isEmpty(), qPrintable(problem + u'\n' + line.left(400)));
        }
    }
};

QTEST_GUILESS_MAIN(TestCliJson)
#include "tst_clijson.moc"
