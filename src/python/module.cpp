// SPDX-License-Identifier: MIT
#include "log/logging.h"
#include "python/board.h"
#include "python/portlist.h"
#include "python/pythonerrors.h"
#include "python/pythonvalues.h"
#include "version.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

python::OpenRequest requestOf(const py::handle &port, int a0, std::optional<double> vsup,
                              const py::handle &trace, const std::vector<std::string> &faults,
                              std::optional<bool> fastMode, bool log, bool verbose)
{
    python::OpenRequest request;
    request.port = python::textOf(port);
    if (a0 != 0 && a0 != 1)
        python::raiseFailure(cli::ExitStatus::Usage,
                             QStringLiteral("--a0: \"%1\" is not 0 or 1").arg(a0), {});
    request.a0 = a0;
    request.vsup = vsup;
    if (!trace.is_none())
        request.trace = python::pathOf(trace);
    for (const std::string &fault : faults)
        request.faults.append(QString::fromStdString(fault));
    request.fastMode = fastMode;
    request.log = log;
    request.verbose = verbose;
    return request;
}

constexpr const char *moduleDoc =
    R"(The KALVENTA 24-channel DAC from Python, on its evaluation board.

The same session as kalventa-cli, held open: every call is one of the tool's commands, with its
frames on the wire, its acknowledge and bus checks, its messages and its burn policy. The port
stays open between calls, so a sweep does not pulse DTR and RTS at every code.

    import kalventa
    with kalventa.open("sim", vsup=3.3) as board:
        board.set_code("c1", 512)
        print(board.get("c1"), board.read()["max_bank"])

Ports are named as kalventa-cli --port takes them: "COM5", "/dev/ttyUSB0", "COM5=ftdi",
"ftdi:SERIAL", "sim", "sim:1ms" (a simulated board as slow as a USB adapter), "sim-ft232r".
Channels are labels as on screen ("1" to "22", "c1", "c2"), register names ("0x00" to "0x17")
or indices 1 to 24 in register order. Failures raise a subclass of kalventa.Error, one per
cause kalventa-cli tells apart by its exit status, with the tool's message. Ctrl-C stops a long
operation between two frames (KeyboardInterrupt); a burn always runs to its end.)";

} // namespace

PYBIND11_MODULE(kalventa, module)
{
    logging::install();
    module.doc() = moduleDoc;
    module.attr("__version__") = QStringLiteral("%1.%2.%3")
                                     .arg(version::major)
                                     .arg(version::minor)
                                     .arg(version::revision)
                                     .toStdString();
    python::addExceptions(module);

    py::class_<python::Board>(module, "Board", R"(A board on one port, open until close().

Made by kalventa.open(). Usable as a context manager: leaving the block writes the trace (when
one was asked for) and closes the port.)")
        .def("read", &python::Board::read,
             R"(Reads the 24 channel registers and the max bank.

Returns a dict: "channels" (24 dicts in register order, each with "channel", "index", "register",
"code", "hex" and "voltage"), "max_bank" (closed OTP banks), "a0" and "vsup".)")
        .def("get", &python::Board::get, "channel"_a,
             "Reads one channel's register and returns its code (0 to 1023).")
        .def("set_code", &python::Board::setCode, "channel"_a, "code"_a, py::kw_only(),
             "verify"_a = false,
             R"(Writes a code (0 to 1024; 1024 is full scale and goes out as 1023) to a channel.

With verify=True the register is read back, and Differs is raised when it does not hold the
code. The session remembers the code for a later burn().)")
        .def("set_voltage", &python::Board::setVoltage, "channel"_a, "volts"_a, py::kw_only(),
             "verify"_a = false,
             R"(Sets a channel to a voltage (clamped to 0 to Vsup), as the window's voltage box.

Needs the board's Vsup (open(vsup=...) or the stored one). Returns a dict with "channels" (the
register written, with "sent"), "requested" and "clamped".)")
        .def("load", &python::Board::load, "path"_a, py::kw_only(), "verify"_a = false,
             R"(Writes a register-set file (.csv) to the 24 channels, as the window's Load does.

The file is read and checked whole first: a bad one raises BadFile and sends nothing.)")
        .def("save", &python::Board::save, "path"_a,
             R"(Reads the 24 registers and saves them as a register-set file.

An existing file is replaced whole or not at all (CannotWrite).)")
        .def("verify", &python::Board::verify, "path"_a,
             R"(Compares the chip with a register-set file.

Returns a dict with "matches" (False when a register differs), "differing" (the channels) and
"channels" (each with the chip's "code" and the file's "file").)")
        .def("reset", &python::Board::reset,
             "Sends the general-call reset: every chip on the bus reloads its registers from OTP.")
        .def("selftest", &python::Board::selftest,
             R"(Checks that DSR follows SDA (driven through RTS): the wiring of the adapter.

Returns {"wiring_fine": True, "finding": ...}; raises WiringFault when it does not.)")
        .def("scan", &python::Board::scan,
             "The A0 of every chip that answers its address: [0], [1], [0, 1] or [].")
        .def("burn", &python::Board::burn, "channels"_a = py::none(), py::kw_only(),
             "confirm"_a = false,
             R"(Burns codes into OTP, which cannot be undone, and returns the burn report.

channels: None for all 24, one channel, or a list of them (burned in that order). Each is
burned with the code this session set for it, else with what the chip holds. Refused with
BurnRefused unless confirm=True. The report is a dict: "outcome", "verified",
"max_bank_before", "max_bank_after", "burned", "not_holding" (registers that do not read back
their code) and the rest of kalventa-cli's otp object. A burn that did not verify raises
BurnNotVerified, one the port or bus cut short BurnInterrupted, both with .report; NoBankLeft
when every bank is closed (nothing burned). Ctrl-C cannot stop a burn.)")
        .def_property("a0", &python::Board::a0, &python::Board::setA0,
                      "The A0 of the chip addressed, 0 or 1.")
        .def_property("vsup", &python::Board::vsup, &python::Board::setVsup,
                      "The board's Vsup in volts, which voltages are computed with; None when "
                      "it is unknown. Setting None takes the stored one again.")
        .def_property("progress", &python::Board::progress, &python::Board::setProgress,
                      "Called as progress(done, total) while a long operation runs (read, "
                      "load, save, verify, burn); None for none. An exception raised in it "
                      "stops the operation between two frames and is raised by it.")
        .def_property_readonly(
            "port", [](const python::Board &board) { return board.port().toStdString(); },
            "The port as given to open().")
        .def_property_readonly("closed", &python::Board::closed, "The board was closed.")
        .def("close", &python::Board::close,
             "Writes the trace (when one was asked for) and closes the port. Closing twice is "
             "harmless.")
        // Test hooks on the simulated board, kept out of the stubs and the docs.
        .def("_sim_chip_present", &python::Board::simulateChipPresent, "a0"_a, "present"_a)
        .def("_sim_register", &python::Board::simulateRegister, "a0"_a, "register"_a, "code"_a)
        .def("_sim_unplug_after", &python::Board::simulateUnplugAfter, "operations"_a)
        .def(
            "__enter__", [](python::Board &board) -> python::Board & { return board; },
            py::return_value_policy::reference)
        .def("__exit__",
             [](python::Board &board, const py::handle &type, const py::handle &,
                const py::handle &) {
                 // An exception on its way out is not replaced by a trace that failed.
                 if (type.is_none()) {
                     board.close();
                     return;
                 }
                 try {
                     board.close();
                 } catch (py::error_already_set &) {
                 }
             })
        .def("__repr__", [](const python::Board &board) {
            return QStringLiteral("<kalventa.Board %1%2>")
                .arg(board.port(), board.closed() ? QStringLiteral(" closed") : QString())
                .toStdString();
        });

    module.def(
        "open",
        [](const py::handle &port, int a0, std::optional<double> vsup, const py::handle &trace,
           const std::vector<std::string> &faults, std::optional<bool> fastMode, bool log,
           bool verbose) {
            return std::make_unique<python::Board>(
                requestOf(port, a0, vsup, trace, faults, fastMode, log, verbose));
        },
        "port"_a, "a0"_a = 0, "vsup"_a = py::none(), "trace"_a = py::none(), py::kw_only(),
        "faults"_a = std::vector<std::string>{}, "fast_mode"_a = py::none(), "log"_a = true,
        "verbose"_a = false,
        R"(Opens the board on a port and returns a Board (a context manager).

port: as kalventa-cli --port takes it ("COM5", a device path, "COMn=ftdi", "ftdi:SERIAL",
"sim", "sim:1ms", "sim-ft232r"). a0: the chip addressed. vsup: the board's Vsup in volts; None
takes the one the KALVENTA program stored for the A0, or leaves it unknown. trace: a .vcd file
that receives every line operation when the board is closed. faults: the simulated board's
faults (as --sim-fault). fast_mode: the FT232R's bit-bang mode on or off for this session (None:
as chosen in the program). log: record burns in the burn log (False: as --no-log). verbose:
the log on standard error. Raises NoPort when the port cannot be opened.)");

    module.def(
        "ports", [] { return python::listPorts(); },
        R"(COM1 to COM16: a list of dicts with "name", "device", "description", "state" (present,
busy, no permission, absent, unusable) and "selected". Probing opens no port for long and
sends nothing.)");
    // Tests list ports below a folder of their own, away from the machine's devices.
    module.def(
        "_ports_below",
        [](const py::handle &folder) { return python::listPorts(python::pathOf(folder)); },
        "folder"_a);

    module.def(
        "scan",
        [](const py::handle &port, const std::vector<std::string> &faults) {
            python::Board board(
                requestOf(port, 0, std::nullopt, py::none(), faults, std::nullopt, false, false));
            py::list found = board.scan();
            board.close();
            return found;
        },
        "port"_a, py::kw_only(), "faults"_a = std::vector<std::string>{},
        "Opens the port, asks both addresses and closes it: the A0 of every chip that answers.");
}
