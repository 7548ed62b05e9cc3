"""Builds the package, and for a wheel the C++ libraries it calls.

``pip wheel --no-build-isolation ./python`` configures the project with CMake (Release, no tests,
no benchmarks), builds the four libraries the package loads and copies them into
``sonara/_libs``: libsonara, libcommon, libsonara_convert and libsonara_archive, each under its
soname and with the RUNPATH ``$ORIGIN``, so they find each other there and the package finds
them before any system copy (``sonara._bundled``). The wheel is then one for this platform.

SONARA_BUNDLE_LIBRARIES=0 packages the Python code alone, for use over installed libraries.
SONARA_SOURCE_DIR names the project's source when this folder is not inside it.
"""

from __future__ import annotations

import importlib.util
import os
import shutil
import subprocess
from pathlib import Path

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py
from wheel.bdist_wheel import bdist_wheel

HERE = Path(__file__).resolve().parent
SOURCE = Path(os.environ.get("SONARA_SOURCE_DIR") or HERE.parent).resolve()
BUNDLE = os.environ.get("SONARA_BUNDLE_LIBRARIES", "1") != "0"
LIBRARY_TARGETS = {"sonara": "libsonara", "common": "libcommon",
                   "sonara_convert": "libsonara_convert", "sonara_archive": "libsonara_archive"}


def _project_version() -> str:
    """The version of project(VERSION), read by the package's own reader."""
    spec = importlib.util.spec_from_file_location("_sonara_version", HERE / "sonara" / "_version.py")
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.source_version(SOURCE)


VERSION = _project_version()


class BuildWithLibraries(build_py):
    """The package's modules, its version module, and the libraries it loads."""

    def run(self) -> None:
        super().run()
        package = Path(self.build_lib) / "sonara"
        (package / "_generated_version.py").write_text(
            f'# Written by setup.py from project(VERSION) in the top CMakeLists.txt.\nVERSION = "{VERSION}"\n')
        if BUNDLE:
            self._bundle(package / "_libs")

    def _bundle(self, destination: Path) -> None:
        build = Path(self.get_finalized_command("build").build_temp).resolve() / "cmake"
        jobs = os.environ.get("SONARA_BUILD_JOBS", "2")
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DSONARA_TESTS=OFF", "-DSONARA_BENCH=OFF",
                        # The libraries carry their installed RUNPATH ($ORIGIN) from the start.
                        "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON"], check=True)
        subprocess.run(["cmake", "--build", str(build), "-j", jobs, "--target", *LIBRARY_TARGETS],
                       check=True)
        if destination.exists():
            shutil.rmtree(destination)
        destination.mkdir(parents=True)
        for name in LIBRARY_TARGETS.values():
            soname = f"{name}.so.{VERSION}"
            shutil.copyfile(build / "bin" / soname, destination / soname)


class WithLibraries(Distribution):
    """A distribution that carries compiled libraries: installed as platform code."""

    def has_ext_modules(self) -> bool:
        return BUNDLE


class PlatformWheel(bdist_wheel):
    """With the libraries inside, a wheel for this platform that any Python 3 loads (the
    libraries are reached through ctypes, not the interpreter's ABI)."""

    def get_tag(self) -> tuple[str, str, str]:
        python, abi, platform = super().get_tag()
        return ("py3", "none", platform) if BUNDLE else (python, abi, platform)


setup(version=VERSION, distclass=WithLibraries,
      cmdclass={"build_py": BuildWithLibraries, "bdist_wheel": PlatformWheel})
