"""Builds the Python module zem_package for pip with the project's CMake build.

The module is the CMake target zem_package_python: this configures a build
of the project that makes only it (no tests, no benchmarks), builds it, and
hands pip the module and its typed stub zem_package.pyi. The version is the
project's, as CMakeLists.txt declares it, which the module reports as
zem_package.__version__.

Two variables of the environment change where things happen:
ZEM_PIP_BUILD_BASE, setuptools' build directory (build-pip by default: the
project's own builds are in build/); ZEM_PIP_CMAKE_BUILD_DIR, a configured
build tree of the project in which to build the module instead of a fresh
one (the test of this file uses the tree it runs from, so as not to build
the library again).
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = Path(__file__).resolve().parent
BUILD_BASE = os.environ.get("ZEM_PIP_BUILD_BASE") or "build-pip"


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"^project\(zem VERSION ([0-9.]+)", text, re.MULTILINE)
    if not found:
        sys.exit("setup.py: no project version in CMakeLists.txt")
    return found.group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.environ.get("ZEM_PIP_CMAKE_BUILD_DIR")
        if build:
            build = Path(build).resolve()
        else:
            build = Path(self.build_temp).resolve() / "cmake"
            generator = ["-G", "Ninja"] if shutil.which("ninja") else []
            subprocess.run(
                ["cmake", "-S", str(SOURCE), "-B", str(build), *generator,
                 "-DCMAKE_BUILD_TYPE=Release", "-DZEM_PYTHON=ON",
                 "-DZEM_BUILD_TESTS=OFF", "-DZEM_BUILD_BENCHMARKS=OFF",
                 # A user's compiler may warn where ours does not.
                 "-DZEM_WERROR=OFF",
                 f"-DPython3_EXECUTABLE={sys.executable}"],
                check=True)
        subprocess.run(
            ["cmake", "--build", str(build), "--target", "zem_package_python",
             "--parallel", str(os.cpu_count() or 1)],
            check=True)

        built = build / "crates" / "zem-python" / "module"
        modules = sorted(built.glob("zem_package*.so"))
        if len(modules) != 1:
            sys.exit(f"setup.py: expected one module in {built}, found {len(modules)}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(modules[0], target)
        shutil.copyfile(built / "zem_package.pyi", target.with_name("zem_package.pyi"))


Path(BUILD_BASE).mkdir(parents=True, exist_ok=True)
setup(
    version=project_version(),
    # The module is built by CMake, not from sources listed here; no Python
    # package is looked for among the repository's folders.
    ext_modules=[Extension("zem_package", sources=[])],
    packages=[],
    py_modules=[],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": BUILD_BASE}, "egg_info": {"egg_base": BUILD_BASE}},
)
