#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Sweeps one channel over every code and writes a CSV of code, set voltage and measured
voltage: the start of a characterisation script.

    PYTHONPATH=build/src/python/module docs/sweep_example.py [PORT [CHANNEL [CSV]]]

PORT defaults to the simulated board ("sim"), CHANNEL to "c1", CSV to "sweep.csv". The stand-in
instrument below returns the ideal output plus a little noise; replace it with a reading of your
multimeter (pyvisa) or data logger.
"""
import csv
import random
import sys

import kalventa


def measure(ideal_volts: float) -> float:
    """A stand-in instrument. With pyvisa it would be, for example:
    return float(dmm.query("MEAS:VOLT:DC?"))"""
    return ideal_volts + random.gauss(0.0, 0.0005)


def main() -> int:
    port = sys.argv[1] if len(sys.argv) > 1 else "sim"
    channel = sys.argv[2] if len(sys.argv) > 2 else "c1"
    path = sys.argv[3] if len(sys.argv) > 3 else "sweep.csv"

    try:
        # The port stays open for the whole sweep; Vsup is the board's supply in volts.
        # "x": an earlier sweep's file is never replaced.
        with kalventa.open(port, a0=0, vsup=3.3) as board, open(path, "x", newline="") as out:
            writer = csv.writer(out)
            writer.writerow(["code", "set_voltage", "measured_voltage"])
            for code in range(1024):
                # verify=True reads the register back: a write the chip did not take raises.
                board.set_code(channel, code, verify=True)
                set_voltage = board.vsup * code / 1024
                writer.writerow([code, f"{set_voltage:.6f}", f"{measure(set_voltage):.6f}"])
            # Leave the channel at mid-scale.
            board.set_code(channel, 512)
    except kalventa.Error as error:
        # The same words as kalventa-cli: "no chip answered at A0 = 0", "SDA is held low", ...
        print(f"sweep: {error}", file=sys.stderr)
        return 1
    except FileExistsError:
        print(f"sweep: {path} exists; give another file name", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print(f"sweep: stopped; {path} holds the codes measured so far", file=sys.stderr)
        return 130
    print(f"sweep: 1024 codes on {channel} written to {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
