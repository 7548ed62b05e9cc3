#!/usr/bin/env bash
# Installs a build into a scratch prefix and uses the installed Python package from there, with
# nothing pointing at the build: import, check a sample, scan a folder into a DataFrame. Then
# installs the package alone with pip and runs it against the installed library.
# usage: python_install_test.sh <build dir> <python3> <source dir>
set -u
build=$1 python=$2 source=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || { cat "$scratch/install.log"; fail "install"; }
package=$prefix/lib/python3/dist-packages/sonara
[ -f "$package/__init__.py" ] && [ -f "$package/py.typed" ] || fail "no package in $package"
[ -f "$package/_install.py" ] || fail "no _install.py beside the installed package"
grep -qx "VERSION = \"$("$python" -c 'import sys; sys.path.insert(0, sys.argv[1]); from sonara._version import VERSION; print(VERSION)' "$source/python")\"" \
  "$package/_generated_version.py" || fail "no project version in the installed _generated_version.py"
# A staged installation (DESTDIR) puts the package and its record under the stage only.
DESTDIR=$scratch/stage cmake --install "$build" --prefix /usr >"$scratch/stage.log" ||
  { cat "$scratch/stage.log"; fail "staged install"; }
staged=$scratch/stage/usr/lib/python3/dist-packages/sonara
[ -f "$staged/__init__.py" ] || fail "no package in $staged"
relative=$(sed -n 's/^LIBRARY = "\(.*\)"$/\1/p' "$staged/_install.py")
[ -n "$relative" ] && [ -f "$staged/$relative" ] || fail "staged _install.py names no staged library: $relative"
[ -z "$(find "$scratch/stage" -path "$scratch/stage$scratch*" -print -quit)" ] || fail "DESTDIR added twice"
configuration=$(find "$prefix" -name cv_configuration.json | head -1)
[ -n "$configuration" ] || fail "no cv_configuration.json installed"
mkdir -p "$scratch/recordings/nested"
cp "$source/samples/"*.wav "$scratch/recordings/"
mv "$scratch/recordings/clean_8000_stereo.wav" "$scratch/recordings/nested/"

# The run sees neither the build nor the source tree.
unset SONARA_LIBRARY SONARA_BUILD_DIR LD_LIBRARY_PATH
use_package() {  # <what> <expected library prefix>
  (cd "$scratch" && "$python" - "$configuration" "$scratch/recordings" "$1" <<'PY'
import sys
import sonara

configuration, recordings, library_prefix = sys.argv[1:4]
assert sonara.library_path().startswith(library_prefix), sonara.library_path()
with sonara.Session(configuration) as session:
    result = session.check(recordings + "/clean_16000_mono.wav")
    assert result.state == sonara.State.STATE_OK and result.passed, result
    assert session.library_version == (1, 2, 5)
frame = sonara.to_dataframe(sonara.scan(recordings, configuration, jobs=2))
assert len(frame) == 10 and frame["path"].is_monotonic_increasing, frame
assert frame.loc[frame.path.str.endswith("nested/clean_8000_stereo.wav"), "state"].item() == 0
failed = frame[~frame.result]
assert set(failed.state_name) >= {"STATE_DEPTH_FAILED", "STATE_OVERLOAD_BORDER_FAILED"}, failed
print(sonara.__file__)
PY
  )
}

where=$(PYTHONPATH=$prefix/lib/python3/dist-packages use_package "$prefix/") || fail "installed package: $where"
[ "${where#"$package"/}" != "$where" ] || fail "imported $where, not the installed package"

# pip, against the installed library: the package alone (no bundled libraries), told where the
# library is; the version comes from the source tree that SONARA_SOURCE_DIR names.
if "$python" -m pip --version >/dev/null 2>&1; then
  cp -r "$source/python" "$scratch/python-source"
  rm -rf "$scratch/python-source/tests" "$scratch/python-source/build"
  SONARA_BUNDLE_LIBRARIES=0 SONARA_SOURCE_DIR=$source "$python" -m pip install --quiet --no-build-isolation \
    --no-deps --target "$scratch/pip" "$scratch/python-source" >"$scratch/pip.log" 2>&1 ||
    { cat "$scratch/pip.log"; fail "pip install"; }
  [ ! -e "$scratch/pip/sonara/_libs" ] || fail "pip bundled libraries with SONARA_BUNDLE_LIBRARIES=0"
  [ ! -e "$scratch/pip/sonara/_install.py" ] || fail "pip installed an _install.py"
  where=$(PYTHONPATH=$scratch/pip SONARA_LIBRARY=$(find "$prefix" -name libsonara.so.1.2.5) \
          use_package "$prefix/") || fail "pip-installed package: $where"
  [ "${where#"$scratch/pip/sonara"/}" != "$where" ] || fail "imported $where, not the pip-installed package"
else
  echo "note: no pip for $python; the pip installation is not tried"
fi
echo "PASS"
