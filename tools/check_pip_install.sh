#!/usr/bin/env bash
# check_pip_install.sh PYTHON SOURCE CMAKE_BUILD WORK TOOL: installs the Python
# module with pip from the source tree SOURCE, as the README says
# (`pip install --no-build-isolation .`), into a fresh virtual environment of
# PYTHON (Debian's) under WORK that sees Debian's setuptools, wheel and
# pybind11, then imports it there: it must be the one installed in the
# environment, its stub must be beside it, and its __version__ must be what
# TOOL --version says. The module is built in the configured build tree
# CMAKE_BUILD, where it is already up to date, rather than in a fresh one
# (see setup.py).
set -euo pipefail
python=$1 source=$2 build=$3 work=$4 tool=$5

rm -rf "$work"
mkdir -p "$work"
"$python" -m venv --system-site-packages "$work/venv"
ZEM_PIP_CMAKE_BUILD_DIR=$build ZEM_PIP_BUILD_BASE=$work/pip-build \
  "$work/venv/bin/pip" install --no-build-isolation --no-index --quiet --quiet "$source"

expected=$("$tool" --version | cut -d ' ' -f 2)
cd "$work"
"$work/venv/bin/python" - "$expected" <<'PYTHON'
import pathlib
import sys

import zem_package

module = pathlib.Path(zem_package.__file__)
problems = []
if not module.is_relative_to(sys.prefix):
    problems.append(f"imported {module}, not the module installed in {sys.prefix}")
if not module.with_name("zem_package.pyi").is_file():
    problems.append(f"no zem_package.pyi beside {module}")
if zem_package.__version__ != sys.argv[1]:
    problems.append(f"__version__ is {zem_package.__version__!r}, the tools say {sys.argv[1]!r}")
if problems:
    sys.exit("\n".join(problems))
print(f"zem_package {zem_package.__version__} installed in {sys.prefix}")
PYTHON
