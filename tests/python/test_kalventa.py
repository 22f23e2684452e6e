# SPDX-License-Identifier: MIT
# kalventa from Python, against the simulated board: each operation, each failure class with the
# command-line tool's message and status, the burn policy, and Ctrl-C between frames.
import os
import pathlib
import signal
import subprocess
import threading
import time
import warnings

import pytest

import kalventa


def register_set(codes, vsup=3.3):
    """A register-set file as the program saves it: the Vsup, then one code per channel."""
    return "\n".join([str(vsup)] + [str(code) for code in codes]) + "\n"


@pytest.fixture
def board():
    with kalventa.open("sim", vsup=3.3) as opened:
        yield opened


def cli(*arguments):
    """kalventa-cli's message and status for the same request, where ctest says where it is."""
    program = os.environ.get("KALVENTA_CLI")
    if not program:
        pytest.skip("KALVENTA_CLI is not set")
    run = subprocess.run([program, *arguments], capture_output=True, text=True, timeout=60)
    return run.stderr.strip().removeprefix("kalventa-cli: "), run.returncode


# --- operations ---------------------------------------------------------------------------------


def test_every_code_of_one_channel_reaches_the_chip(board):
    for code in range(1024):
        board.set_code("c1", code)
        assert board.get("c1") == code
    # Full scale goes out as the largest code.
    board.set_code("c1", 1024)
    assert board.get(19) == 1023


def test_read_gives_all_channels_in_register_order(board):
    board.set_code(1, 5)
    board.set_code("22", 1000)
    registers = board.read()
    assert [c["channel"] for c in registers["channels"]][17:21] == ["18", "c1", "c2", "19"]
    assert [c["index"] for c in registers["channels"]] == list(range(1, 25))
    assert registers["channels"][0]["code"] == 5
    assert registers["channels"][23]["code"] == 1000
    assert isinstance(registers["channels"][23]["voltage"], float)
    assert registers["max_bank"] == 0 and registers["a0"] == 0 and registers["vsup"] == 3.3


@pytest.mark.parametrize("channel", [19, "c1", "0x12"])
def test_channels_by_label_register_or_index(board, channel):
    board.set_code(channel, 77)
    assert board.get("c1") == 77


def test_set_voltage_sends_the_code_of_the_voltage_box(board):
    result = board.set_voltage(1, 1.65)
    assert result["channels"][0]["sent"] == 512
    assert board.get(1) == 512
    clamped = board.set_voltage(2, 9.0)
    assert clamped["clamped"] is True and board.get(2) == 1023


def test_save_load_and_verify_round_trip(board, tmp_path):
    for index in range(1, 25):
        board.set_code(index, index * 40)
    path = tmp_path / "set.csv"
    board.save(path)
    for index in range(1, 25):
        board.set_code(index, 0)
    assert board.verify(str(path))["matches"] is False
    board.load(os.fsencode(path), verify=True)
    assert [c["code"] for c in board.read()["channels"]] == [i * 40 for i in range(1, 25)]
    comparison = board.verify(path)
    assert comparison["matches"] is True and comparison["differing"] == []


def test_verify_names_the_registers_that_differ(board, tmp_path):
    path = tmp_path / "set.csv"
    path.write_text(register_set([100] * 24))
    board.load(path)
    board.set_code("c2", 101)
    comparison = board.verify(path)
    assert comparison["matches"] is False and comparison["differing"] == ["c2"]


def test_reset_reloads_the_burned_codes(board):
    board.set_code(3, 300)
    report = board.burn(3, confirm=True)
    assert report["verified"] is True
    assert (report["max_bank_before"], report["max_bank_after"]) == (0, 1)
    board.set_code(3, 1)
    board.reset()
    assert board.get(3) == 300


def test_burn_of_a_list_burns_those_channels_in_order(board):
    board.set_code(1, 10)
    board.set_code(2, 20)
    report = board.burn(["2", 1], confirm=True)
    assert report["burned"] == ["2", "1"] and report["outcome"] == "verified"
    assert report["not_holding"] == []


@pytest.mark.parametrize("channels", [[], [1, "1"]])
def test_burn_refuses_an_empty_or_repeated_list(board, channels):
    with pytest.raises(kalventa.UsageError):
        board.burn(channels, confirm=True)
    assert board.read()["max_bank"] == 0


def test_selftest_and_scan(board):
    assert board.selftest()["wiring_fine"] is True
    assert board.scan() == [0, 1]
    board._sim_chip_present(0, False)
    assert board.scan() == [1]
    board._sim_chip_present(1, False)
    assert board.scan() == []
    assert kalventa.scan("sim") == [0, 1]


def test_a0_addresses_the_other_chip(board):
    board.a0 = 1
    board.set_code(1, 100)
    assert board.a0 == 1 and board.get(1) == 100
    board.a0 = 0
    assert board.get(1) == 0
    with pytest.raises(kalventa.UsageError):
        board.a0 = 2


def test_vsup_property_changes_the_voltages(board):
    board.vsup = 5.0
    assert board.set_voltage(1, 2.5)["channels"][0]["sent"] == 512
    board.vsup = None
    assert board.vsup is None
    with pytest.raises(kalventa.SettingsUnreadable, match="Vsup"):
        board.set_voltage(1, 1.0)


def test_progress_is_reported_and_a_raising_callback_stops(board, tmp_path):
    seen = []
    board.progress = lambda done, total: seen.append((done, total))
    board.read()
    assert seen and seen[-1][0] == seen[-1][1] and seen[-1][1] > 0

    def fail(done, total):
        if done >= 3:
            raise ZeroDivisionError("stop")

    board.progress = fail
    with pytest.raises(ZeroDivisionError):
        board.read()
    board.progress = None
    assert board.get(1) == 0
    with pytest.raises(TypeError):
        board.progress = 5


def test_a_closed_board_refuses_and_a_trace_is_written(tmp_path):
    trace = tmp_path / "bus.vcd"
    with kalventa.open("sim", vsup=3.3, trace=trace) as board:
        board.set_code(1, 5)
    assert board.closed and trace.read_text().startswith("$")
    board.close()  # twice is harmless
    with pytest.raises(ValueError, match="closed"):
        board.get(1)


def test_ports_below_a_folder(tmp_path):
    (tmp_path / "tty3").write_text("")
    ports = kalventa._ports_below(tmp_path)
    assert [p["name"] for p in ports] == [f"COM{n}" for n in range(1, 17)]
    assert ports[0]["state"] == "absent"
    assert ports[2]["device"] == str(tmp_path / "tty3") and ports[2]["state"] != "absent"


def test_notes_become_warnings():
    with kalventa.open("sim") as board:
        with pytest.warns(UserWarning, match="Vsup is unknown"):
            registers = board.read()
        # The result survives its notes.
        assert len(registers["channels"]) == 24 and registers["max_bank"] >= 0


# --- failures -----------------------------------------------------------------------------------


def test_every_class_is_an_error_with_the_tools_status():
    statuses = {
        "UsageError": 2, "BadFile": 3, "PortUnavailable": 4, "NoPort": 4, "PortFailed": 4,
        "BurnRefused": 5, "CannotWrite": 6, "SettingsUnreadable": 7, "ChipSilent": 8,
        "BurnInterrupted": 9, "WiringFault": 10, "SdaHeld": 11, "NoBankLeft": 12,
        "BurnNotVerified": 13, "Differs": 14,
    }
    for name, status in statuses.items():
        cls = getattr(kalventa, name)
        assert issubclass(cls, kalventa.Error) and cls.status == status, name
    assert issubclass(kalventa.NoPort, kalventa.PortUnavailable)
    assert issubclass(kalventa.UsageError, ValueError)


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda b: b.get(25), kalventa.UsageError),
        (lambda b: b.get("c3"), kalventa.UsageError),
        (lambda b: b.set_code(1, 1025), kalventa.UsageError),
        (lambda b: b.set_code(1, -1), kalventa.UsageError),
        (lambda b: b.set_voltage(1, float("nan")), kalventa.UsageError),
        (lambda b: b.get(True), TypeError),
        (lambda b: b.set_code(1, 5.0), TypeError),
    ],
)
def test_bad_arguments_send_nothing(board, call, error):
    board.set_code(1, 9)
    with pytest.raises(error):
        call(board)
    assert board.get(1) == 9


@pytest.mark.parametrize("content", [None, "not,a\nregister set\n", register_set([5] * 23)])
def test_a_bad_file_sends_nothing(board, tmp_path, content):
    path = tmp_path / "bad.csv"
    if content is not None:
        path.write_text(content)
    board.set_code(1, 9)
    with pytest.raises(kalventa.BadFile) as raised:
        board.load(path)
    assert raised.value.status == 3
    assert board.get(1) == 9


def test_messages_are_the_tools(tmp_path):
    missing = str(tmp_path / "missing.csv")
    absent = str(tmp_path / "ttyUSB9")
    cases = [
        (lambda: kalventa.open("sim", vsup=3.3).load(missing), kalventa.BadFile,
         ["--port", "sim", "--vsup", "3.3", "load", missing]),
        (lambda: kalventa.open("sim").get("c3"), kalventa.UsageError,
         ["--port", "sim", "get", "c3"]),
        (lambda: kalventa.open(absent), kalventa.NoPort, ["--port", absent, "read"]),
        (lambda: kalventa.open("sim", faults=["dsr-stuck"]).read(), kalventa.SdaHeld,
         ["--port", "sim", "--sim-fault", "dsr-stuck", "read"]),
    ]
    for call, error, arguments in cases:
        with pytest.raises(error) as raised:
            call()
        assert (str(raised.value), raised.value.status) == cli(*arguments)


def test_no_port_and_a_port_that_fails(board, tmp_path):
    with pytest.raises(kalventa.NoPort, match="does not exist"):
        kalventa.open(str(tmp_path / "ttyUSB9"))
    board._sim_unplug_after(50)
    with pytest.raises(kalventa.PortFailed) as raised:
        board.read()
    assert isinstance(raised.value, kalventa.PortUnavailable) and raised.value.status == 4


def test_cannot_write_leaves_the_file(board, tmp_path):
    with pytest.raises(kalventa.CannotWrite):
        board.save(tmp_path / "no folder" / "set.csv")
    (tmp_path / "folder.csv").mkdir()
    with pytest.raises(kalventa.CannotWrite):
        board.save(tmp_path / "folder.csv")
    with pytest.raises(kalventa.CannotWrite):
        kalventa.open("sim", trace=tmp_path / "no folder" / "bus.vcd")
    # A folder gone by the time the trace is written: closed all the same.
    (tmp_path / "gone").mkdir()
    traced = kalventa.open("sim", trace=tmp_path / "gone" / "bus.vcd")
    (tmp_path / "gone").rmdir()
    with pytest.raises(kalventa.CannotWrite):
        traced.close()
    assert traced.closed


def test_a_silent_chip(board):
    board._sim_chip_present(0, False)
    with pytest.raises(kalventa.ChipSilent):
        board.set_code(1, 5)
    board._sim_chip_present(0, True)
    board.set_code(1, 5)


def test_wiring_fault_and_sda_held():
    with kalventa.open("sim", faults=["dsr-stuck"]) as board:
        with pytest.raises(kalventa.WiringFault):
            board.selftest()
        with pytest.raises(kalventa.SdaHeld):
            board.set_code(1, 5)
        with pytest.raises(kalventa.SdaHeld):
            board.burn(confirm=True)


def test_a_burn_without_confirm_is_refused(board):
    board.set_code(1, 300)
    for confirm in ({}, {"confirm": False}, {"confirm": 1}, {"confirm": "yes"}):
        with pytest.raises(kalventa.BurnRefused, match="cannot be undone"):
            board.burn(**confirm)
        with pytest.raises(kalventa.BurnRefused):
            board.burn(1, **confirm)
    assert board.read()["max_bank"] == 0
    board.reset()
    assert board.get(1) == 0  # nothing was burned


def test_no_bank_left_burns_nothing(board):
    for _ in range(3):
        board.burn(confirm=True)
    board.set_code(5, 100)
    with pytest.raises(kalventa.NoBankLeft) as raised:
        board.burn(5, confirm=True)
    assert raised.value.details["max_bank_before"] == 3
    assert raised.value.details["not_sent"] == ["5"]


def test_a_burn_that_does_not_verify_reports_what_the_chip_holds():
    with kalventa.open("sim", vsup=3.3, faults=["dead-cell=5"], log=False) as board:
        board.set_code(5, 300)
        with pytest.raises(kalventa.BurnNotVerified) as raised:
            board.burn(5, confirm=True)
        report = raised.value.report
        assert report["not_holding"] == [{"burned": 300, "channel": "5", "reads": 0}]
        assert report["max_bank_after"] == 1


def test_a_burn_cut_short_by_the_port(board):
    board.set_code(1, 300)
    board._sim_unplug_after(10000)  # past the codes' writes, inside the burn
    with pytest.raises(kalventa.BurnInterrupted) as raised:
        board.burn(confirm=True)
    report = raised.value.report
    assert report["burned"] and report["port_failure"]
    assert report["verified"] is False


def test_a_write_read_back_that_differs(board, tmp_path):
    path = tmp_path / "set.csv"
    path.write_text(register_set([100] * 24))

    # Something else on the bus changes a register between the write and its read-back.
    def disturb(done, total):
        board._sim_register(0, 0, 7)

    board.progress = disturb
    with pytest.raises(kalventa.Differs) as raised:
        board.load(path, verify=True)
    assert raised.value.status == 14


# --- threads and signals ------------------------------------------------------------------------


def test_ctrl_c_stops_a_slow_read_between_frames():
    with kalventa.open("sim:1ms", vsup=3.3) as board:
        timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
        timer.start()
        started = time.monotonic()
        with pytest.raises(KeyboardInterrupt):
            board.read()
        stopped = time.monotonic() - started
        timer.join()
        assert stopped < 2.5  # a whole read takes far longer at 1 ms per line operation
        board.set_code(1, 5)
        assert board.get(1) == 5


def test_the_bus_works_without_the_gil():
    with kalventa.open("sim:1ms", vsup=3.3) as board:
        reader = threading.Thread(target=board.get, args=(1,))
        counted = 0
        reader.start()
        while reader.is_alive():
            counted += 1
        reader.join()
        assert counted > 1000
