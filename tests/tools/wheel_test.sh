#!/usr/bin/env bash
# Builds the wheel as a user does (pip wheel --no-build-isolation, which compiles the four
# libraries with CMake), checks that it is a platform wheel carrying them with the RUNPATH
# $ORIGIN, installs it into a bare virtualenv and uses it there with nothing else: a check of a
# sample, a decode through the bundled converter, python -m sonara and the console scripts.
# usage: wheel_test.sh <python3> <source dir> <version>
set -u
python=$1 source=$2 version=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

# A copy of the package folder, so the build's own files land in the scratch folder; the
# libraries' sources are named by SONARA_SOURCE_DIR.
cp -r "$source/python" "$scratch/python"
rm -rf "$scratch/python/tests" "$scratch/python/build" "$scratch/python/"*.egg-info
SONARA_SOURCE_DIR=$source SONARA_BUILD_JOBS=2 "$python" -m pip wheel --no-build-isolation --no-deps \
  -w "$scratch/dist" "$scratch/python" >"$scratch/wheel.log" 2>&1 || { tail -40 "$scratch/wheel.log"; fail "pip wheel"; }
wheel=$scratch/dist/sonara-$version-py3-none-linux_$(uname -m).whl
[ -f "$wheel" ] || { ls "$scratch/dist"; fail "no $(basename "$wheel")"; }

# Its contents: the four libraries under their sonames, finding each other through $ORIGIN.
"$python" - "$wheel" "$version" "$scratch/unpacked" <<'PY' || fail "wheel contents"
import subprocess
import sys
import zipfile

wheel, version, unpacked = sys.argv[1:4]
with zipfile.ZipFile(wheel) as archive:
    names = set(archive.namelist())
    archive.extractall(unpacked)
    metadata = next(archive.read(name).decode() for name in names if name.endswith(".dist-info/WHEEL"))
    entry_points = next(archive.read(name).decode() for name in names if name.endswith("entry_points.txt"))
assert "Root-Is-Purelib: false" in metadata, metadata
for script in ("sonara-report = sonara.report:main", "sonara-distributed = sonara.distributed:main"):
    assert script in entry_points, entry_points
for module in ("__init__", "__main__", "_bundled", "_library", "_version", "_generated_version"):
    assert f"sonara/{module}.py" in names, module
assert not any("_install.py" in name or "__pycache__" in name for name in names), sorted(names)
libraries = sorted(name for name in names if name.startswith("sonara/_libs/"))
expected = sorted(f"sonara/_libs/{library}.so.{version}"
                  for library in ("libsonara", "libcommon", "libsonara_convert", "libsonara_archive"))
assert libraries == expected, libraries
for library in libraries:
    dynamic = subprocess.run(["readelf", "-d", f"{unpacked}/{library}"], capture_output=True,
                             text=True, check=True).stdout
    runpath = [line for line in dynamic.splitlines() if "RUNPATH" in line or "RPATH" in line]
    assert len(runpath) == 1 and "[$ORIGIN]" in runpath[0], (library, runpath)
    assert "/work/" not in dynamic and "/build" not in dynamic, (library, dynamic)
PY

# A bare virtualenv: no system site packages, nothing but the wheel.
"$python" -m venv "$scratch/venv" || fail "venv"
venv_python=$scratch/venv/bin/python
"$venv_python" -m pip install --quiet --no-index "$wheel" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; fail "pip install of the wheel"; }
unset SONARA_LIBRARY SONARA_CONVERT_LIBRARY SONARA_BUILD_DIR LD_LIBRARY_PATH PYTHONPATH
(cd "$scratch" && "$venv_python" - "$source" "$version" <<'PY') || fail "the installed wheel"
import importlib.util
import os
import sys

import sonara

source, version = sys.argv[1:3]
package = os.path.dirname(sonara.__file__)
assert package.startswith(sys.prefix), package
assert importlib.util.find_spec("pandas") is None, "the virtualenv is not bare"
assert sonara.__version__ == version, sonara.__version__
assert sonara.library_path() == os.path.join(package, "_libs", f"libsonara.so.{version}"), sonara.library_path()
with sonara.Session(os.path.join(source, "config", "cv_configuration.json")) as session:
    result = session.check(os.path.join(source, "samples", "clean_16000_mono.wav"))
    assert result.state == sonara.State.STATE_OK and result.passed, result
    failed = session.check(os.path.join(source, "samples", "depth_8bit_8000_mono.wav"))
    assert failed.state == sonara.State.STATE_DEPTH_FAILED, failed
    assert session.library_version == tuple(int(part) for part in version.split(".")), session.library_version
from sonara import _convert

assert _convert.convert_library().path.startswith(os.path.join(package, "_libs")), _convert.convert_library().path
PY

output=$(cd "$scratch" && "$venv_python" -m sonara) || fail "python -m sonara exited $?: $output"
for row in "sonara +$version " "libsonara +$version, vendor kestro \($scratch/venv/.*/_libs/libsonara.so.$version\)" \
           "libsoxr +.*[0-9]" "libsndfile +.*[0-9]" "detector +(fvad layer over webrtc-audio-processing|libfvad) [0-9]"; do
  grep -Eq "^$row" <<<"$output" || fail "python -m sonara printed no line like '$row': $output"
done
for script in sonara-report sonara-distributed; do
  [ -x "$scratch/venv/bin/$script" ] || fail "no $script console script"
done
"$scratch/venv/bin/sonara-report" --help >"$scratch/help.txt" 2>&1 || { cat "$scratch/help.txt"; fail "sonara-report --help"; }
grep -q 'results' "$scratch/help.txt" || fail "sonara-report --help printed: $(cat "$scratch/help.txt")"
echo "PASS"
