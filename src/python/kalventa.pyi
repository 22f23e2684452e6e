# SPDX-License-Identifier: MIT
"""The KALVENTA 24-channel DAC from Python, on its evaluation board (type stubs)."""

import os
from types import TracebackType
from typing import Callable, Iterable, Literal, Optional, TypedDict, Union

__version__: str

Channel = Union[int, str]
"""A label as on screen ("1" to "22", "c1", "c2"), a register ("0x00" to "0x17"), or an
index from 1 to 24 in register order."""

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

class ChannelValue(TypedDict):
    channel: str
    index: int
    register: int
    code: Optional[int]
    hex: Optional[str]
    voltage: Optional[float]
    sent: Optional[int]
    file: Optional[float]
    read_back: Optional[int]

class Registers(TypedDict):
    channels: list[ChannelValue]
    max_bank: int
    a0: int
    vsup: Optional[float]

class VoltageSet(TypedDict):
    channels: list[ChannelValue]
    requested: float
    clamped: bool
    verified: Optional[bool]
    a0: int
    vsup: Optional[float]

class FileResult(TypedDict, total=False):
    channels: list[ChannelValue]
    file: str
    verified: Optional[bool]
    a0: int
    vsup: Optional[float]

class Comparison(TypedDict):
    channels: list[ChannelValue]
    file: str
    matches: bool
    differing: list[str]
    a0: int
    vsup: Optional[float]

class SelfTest(TypedDict):
    wiring_fine: bool
    finding: str

class BurnReport(TypedDict):
    outcome: str
    verified: bool
    max_bank_before: Optional[int]
    max_bank_after: Optional[int]
    burned: list[str]
    not_holding: list[str]
    not_sent: list[str]
    cut_off: list[str]
    unacknowledged: list[str]
    cause: Optional[str]
    port_failure: Optional[str]
    channels: list[ChannelValue]
    logged: bool
    log: Optional[str]
    log_error: Optional[str]
    a0: int
    vsup: Optional[float]

class PortInfo(TypedDict):
    name: str
    device: str
    description: str
    state: Literal["present", "busy", "no permission", "absent", "unusable"]
    selected: bool

Progress = Callable[[int, int], object]

class Error(Exception):
    """Every failure of the module; str(error) is kalventa-cli's message."""

    status: int
    details: Optional[dict[str, object]]

class UsageError(Error, ValueError): ...
class BadFile(Error): ...
class PortUnavailable(Error): ...
class NoPort(PortUnavailable): ...
class PortFailed(PortUnavailable): ...
class BurnRefused(Error): ...
class CannotWrite(Error): ...
class SettingsUnreadable(Error): ...
class ChipSilent(Error): ...
class WiringFault(Error): ...
class SdaHeld(Error): ...
class NoBankLeft(Error): ...
class Differs(Error): ...

class BurnInterrupted(Error):
    report: BurnReport

class BurnNotVerified(Error):
    report: BurnReport

class Board:
    """A board on one port, open until close(); a context manager."""

    a0: int
    vsup: Optional[float]
    progress: Optional[Progress]
    @property
    def port(self) -> str: ...
    @property
    def closed(self) -> bool: ...
    def read(self) -> Registers: ...
    def get(self, channel: Channel) -> int: ...
    def set_code(self, channel: Channel, code: int, *, verify: bool = False) -> None: ...
    def set_voltage(self, channel: Channel, volts: float, *, verify: bool = False) -> VoltageSet: ...
    def load(self, path: Path, *, verify: bool = False) -> FileResult: ...
    def save(self, path: Path) -> FileResult: ...
    def verify(self, path: Path) -> Comparison: ...
    def reset(self) -> None: ...
    def selftest(self) -> SelfTest: ...
    def scan(self) -> list[int]: ...
    def burn(
        self,
        channels: Union[None, Channel, Iterable[Channel]] = None,
        *,
        confirm: bool = False,
    ) -> BurnReport: ...
    def close(self) -> None: ...
    def __enter__(self) -> Board: ...
    def __exit__(
        self,
        type: Optional[type[BaseException]],
        value: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> None: ...

def open(
    port: str,
    a0: int = 0,
    vsup: Optional[float] = None,
    trace: Optional[Path] = None,
    *,
    faults: list[str] = ...,
    fast_mode: Optional[bool] = None,
    log: bool = True,
    verbose: bool = False,
) -> Board: ...
def ports() -> list[PortInfo]: ...
def scan(port: str, *, faults: list[str] = ...) -> list[int]: ...
