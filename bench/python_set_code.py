#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""What one board.set_code() costs from Python on the simulated board, and a 1024-code sweep's
time on the slow simulated board against the bus's own time.

    PYTHONPATH=build/src/python/module bench/python_set_code.py [--sweep]

Compare the first figure with build/bench/kalventa_bench_session (the same write from C++).
"""
import os
import sys
import tempfile
import time
import timeit

# A settings folder of its own: the benchmark never reads or writes the user's settings.
os.environ["XDG_CONFIG_HOME"] = tempfile.mkdtemp(prefix="kalventa-bench-")

import kalventa  # noqa: E402


def per_call(board, calls):
    codes = iter(range(calls))
    timer = timeit.Timer(lambda: board.set_code("c1", next(codes) % 1024))
    return timer.timeit(calls) / calls


def main():
    with kalventa.open("sim", vsup=3.3, log=False) as board:
        per_call(board, 2000)  # warm up
        best = min(per_call(board, 20000) for _ in range(5))
        print(f"set_code from Python on sim: {best * 1e6:.2f} us per call (best of 5 x 20000)")

    if "--sweep" in sys.argv:
        # The slow board waits 1 ms per line operation: the bus's own time is the count of line
        # operations the sweep needs times that wait, measured here as the sweep's time in C++.
        with kalventa.open("sim:1ms", vsup=3.3, log=False) as board:
            start = time.perf_counter()
            for code in range(1024):
                board.set_code("c1", code)
            elapsed = time.perf_counter() - start
            print(f"1024-code sweep on sim:1ms from Python: {elapsed:.1f} s "
                  f"({elapsed / 1024 * 1e3:.2f} ms per code)")


if __name__ == "__main__":
    main()
