// SPDX-License-Identifier: MIT
#pragma once

#include "python/pybind.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// Between the tool's JSON objects and Python's values. Keys turn from the JSON's camelCase
// ("maxBank") into Python's snake_case ("max_bank"); numbers without a fraction become int.
namespace python {

pybind11::object toPython(const QJsonValue &value);
// A command's result as a dict, without the keys every JSON object of the tool carries
// (schema, command, line, ok, exitStatus, error, stoppedBy).
pybind11::dict resultDict(const QJsonObject &json);
QString snakeCase(const QString &key);

// A path as str, bytes or os.PathLike, with every byte of the name kept.
QString pathOf(const pybind11::handle &path);
// Python's text, as Qt holds it.
QString textOf(const pybind11::handle &text);

} // namespace python
