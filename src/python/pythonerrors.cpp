// SPDX-License-Identifier: MIT
#include "python/pythonerrors.h"

#include "python/pythonvalues.h"

#include <map>

namespace py = pybind11;

namespace python {

namespace {

using cli::ExitStatus;

struct ErrorClass
{
    const char *name;
    const char *base; // nullptr: Error itself
    ExitStatus status;
    const char *doc;
};

constexpr ErrorClass errorClasses[] = {
    {"UsageError", nullptr, ExitStatus::Usage,
     "A bad argument: a channel, code, voltage or option that does not fit (also a ValueError)."},
    {"BadFile", nullptr, ExitStatus::BadInputFile,
     "A register-set file missing, unreadable or malformed: nothing was sent."},
    {"PortUnavailable", nullptr, ExitStatus::PortUnavailable,
     "The port is absent, busy, not permitted, or failed during use."},
    {"NoPort", "PortUnavailable", ExitStatus::PortUnavailable,
     "The port could not be opened: absent, busy or not permitted."},
    {"PortFailed", "PortUnavailable", ExitStatus::PortUnavailable,
     "The port failed while the operation used it (an adapter pulled out, say)."},
    {"BurnRefused", nullptr, ExitStatus::BurnRefused,
     "A burn asked for without confirm=True: nothing was sent."},
    {"CannotWrite", nullptr, ExitStatus::CannotWrite,
     "The file to save or the trace cannot be written; an existing file is left as it was."},
    {"SettingsUnreadable", nullptr, ExitStatus::SettingsUnreadable,
     "The stored settings cannot be read, or the board's Vsup is unknown."},
    {"ChipSilent", nullptr, ExitStatus::ChipSilent,
     "No chip acknowledged a frame (or a register holds no code to burn)."},
    {"BurnInterrupted", nullptr, ExitStatus::BurnInterrupted,
     "The port failed or SDA was held during a burn: some cells may be burned. .report says "
     "which."},
    {"WiringFault", nullptr, ExitStatus::WiringFault, "selftest: DSR does not follow RTS."},
    {"SdaHeld", nullptr, ExitStatus::SdaHeld,
     "SDA stayed low through a bus clear: nothing went over the bus."},
    {"NoBankLeft", nullptr, ExitStatus::NoBankLeft,
     "Every OTP bank is closed: nothing was burned."},
    {"BurnNotVerified", nullptr, ExitStatus::BurnNotVerified,
     "Burned, but a register does not hold its code or the bank did not close. .report says "
     "what the chip holds."},
    {"Differs", nullptr, ExitStatus::Differs,
     "A write read back with verify=True: the register does not hold the code sent."},
};

// Classes live as long as the interpreter: they are never released.
std::map<std::string, py::handle> &classes()
{
    static std::map<std::string, py::handle> byName;
    return byName;
}

py::handle classNamed(const std::string &name)
{
    return classes().at(name);
}

} // namespace

void addExceptions(py::module_ &module)
{
    const py::object type = py::module_::import("builtins").attr("type");
    const py::object exception = py::module_::import("builtins").attr("Exception");
    const py::object valueError = py::module_::import("builtins").attr("ValueError");

    py::dict errorBody;
    errorBody["__doc__"] =
        "Every failure of the module. str(error) is kalventa-cli's message; .status is the exit "
        "status kalventa-cli gives for it; .details holds what the operation got as far as.";
    errorBody["__module__"] = "kalventa";
    errorBody["status"] = 1;
    errorBody["details"] = py::none();
    const py::object error = type("Error", py::make_tuple(exception), errorBody);
    module.attr("Error") = error;
    classes()["Error"] = error.inc_ref();

    for (const ErrorClass &entry : errorClasses) {
        py::dict body;
        body["__doc__"] = entry.doc;
        body["__module__"] = "kalventa";
        body["status"] = cli::exitCode(entry.status);
        py::tuple bases = entry.base ? py::make_tuple(classNamed(entry.base))
                          : entry.status == ExitStatus::Usage ? py::make_tuple(error, valueError)
                                                              : py::make_tuple(error);
        const py::object cls = type(entry.name, bases, body);
        module.attr(entry.name) = cls;
        classes()[entry.name] = cls.inc_ref();
    }
}

py::object exceptionClass(ExitStatus status, PortStage stage)
{
    if (status == ExitStatus::PortUnavailable)
        return py::reinterpret_borrow<py::object>(
            classNamed(stage == PortStage::Opening ? "NoPort" : "PortFailed"));
    if (status == ExitStatus::Interrupted)
        return py::module_::import("builtins").attr("KeyboardInterrupt");
    for (const ErrorClass &entry : errorClasses) {
        if (entry.status == status)
            return py::reinterpret_borrow<py::object>(classNamed(entry.name));
    }
    return py::reinterpret_borrow<py::object>(classNamed("Error"));
}

void raiseFailure(ExitStatus status, const QString &message, const QJsonObject &details,
                  PortStage stage)
{
    const py::object cls = exceptionClass(status, stage);
    const py::object instance = cls(toPython(QJsonValue(message)));
    if (status != ExitStatus::Interrupted) {
        instance.attr("status") = cli::exitCode(status);
        instance.attr("details") = resultDict(details);
        // What a burn did is its report, whether or not it went well.
        if (status == ExitStatus::BurnInterrupted || status == ExitStatus::BurnNotVerified)
            instance.attr("report") = instance.attr("details");
    }
    PyErr_SetObject(cls.ptr(), instance.ptr());
    throw py::error_already_set();
}

} // namespace python
