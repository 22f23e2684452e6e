# SPDX-License-Identifier: MIT
# The module's tests: the simulated board only, and settings and burn logs in a folder of the
# run's own, set before the module first reads them.
import os
import tempfile

_home = tempfile.mkdtemp(prefix="kalventa-pytest-")
for variable, folder in (("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"), ("HOME", "home")):
    os.environ[variable] = os.path.join(_home, folder)
    os.makedirs(os.environ[variable], exist_ok=True)
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
