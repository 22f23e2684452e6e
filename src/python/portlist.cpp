// SPDX-License-Identifier: MIT
#include "python/portlist.h"

#include "cli/clisession.h"
#include "cli/output.h"
#include "device/settingsstore.h"
#include "port/portmap.h"
#include "python/pythonvalues.h"

#include <QDir>
#include <QTextStream>

namespace py = pybind11;

namespace python {

py::list listPorts(const QString &deviceFolder)
{
    QString sink;
    QTextStream out(&sink);
    QTextStream err(&sink);
    device::SettingsStore settings;
    cli::CliSession session(settings, out, err);
    if (!deviceFolder.isEmpty()) {
        port::PortMap map;
        for (int n = port::PortMap::firstPortNumber; n <= port::PortMap::lastPortNumber; ++n)
            map.mapToDevice(n, QDir(deviceFolder).filePath(QStringLiteral("tty%1").arg(n)));
        session.setPortMap(map);
    }
    auto output = std::make_unique<cli::KeptOutput>(out, err);
    cli::KeptOutput &kept = *output;
    session.setOutput(std::move(output));
    {
        py::gil_scoped_release release;
        session.run({QStringLiteral("kalventa-cli"), QStringLiteral("ports")});
    }
    return toPython(kept.json().value(QStringLiteral("ports"))).cast<py::list>();
}

} // namespace python
