// SPDX-License-Identifier: MIT
#include "python/pythonvalues.h"

#include "device/filenames.h"

#include <QJsonArray>
#include <cmath>

namespace py = pybind11;

namespace python {

namespace {

py::str toStr(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return py::str(utf8.constData(), std::size_t(utf8.size()));
}

// JSON keeps no difference between 3 and 3.0, and the tool writes codes as doubles: a number
// without a fraction is an int, except under the keys whose values are measures.
bool isMeasure(const QString &key)
{
    static const QStringList measures{QStringLiteral("voltage"), QStringLiteral("vsup"),
                                      QStringLiteral("requested"), QStringLiteral("file"),
                                      QStringLiteral("seconds")};
    return measures.contains(key);
}

py::object valueOf(const QJsonValue &value, const QString &key)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return py::bool_(value.toBool());
    case QJsonValue::Double: {
        const double number = value.toDouble();
        if (!isMeasure(key) && std::abs(number) < 9e15 && number == std::floor(number))
            return py::int_(qint64(number));
        return py::float_(number);
    }
    case QJsonValue::String:
        return toStr(value.toString());
    case QJsonValue::Array: {
        py::list list;
        for (const QJsonValue &item : value.toArray())
            list.append(valueOf(item, key));
        return list;
    }
    case QJsonValue::Object: {
        py::dict dict;
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            dict[toStr(snakeCase(it.key()))] = valueOf(it.value(), it.key());
        return dict;
    }
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return py::none();
}

} // namespace

QString snakeCase(const QString &key)
{
    QString snake;
    snake.reserve(key.size() + 4);
    for (const QChar c : key) {
        if (c.isUpper()) {
            snake += u'_';
            snake += c.toLower();
        } else {
            snake += c;
        }
    }
    return snake;
}

py::object toPython(const QJsonValue &value)
{
    return valueOf(value, {});
}

py::dict resultDict(const QJsonObject &json)
{
    static const QStringList everyObjectsKeys{
        QStringLiteral("schema"),   QStringLiteral("command"),    QStringLiteral("line"),
        QStringLiteral("ok"),       QStringLiteral("exitStatus"), QStringLiteral("error"),
        QStringLiteral("stoppedBy")};
    QJsonObject own = json;
    for (const QString &key : everyObjectsKeys)
        own.remove(key);
    return toPython(own).cast<py::dict>();
}

QString pathOf(const py::handle &path)
{
    // os.fsencode gives the bytes the system knows the name by, for str (surrogates kept), bytes
    // and os.PathLike alike, and refuses anything else with Python's own TypeError.
    const py::bytes bytes = py::module_::import("os").attr("fsencode")(path);
    const std::string name = bytes;
    return device::decodeFileName(QByteArray(name.data(), qsizetype(name.size())));
}

QString textOf(const py::handle &text)
{
    const std::string utf8 = text.cast<std::string>();
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

} // namespace python
