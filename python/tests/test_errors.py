"""What goes wrong is answered with a clear exception: refused configurations, closed sessions,
missing files, and a library that can't be found."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import sonara
from conftest import CONFIG, SAMPLES, SOURCE, byte_built_cases

REQUIRED_MISSING = '{"signal_noise": {"value": 15}}'
REVERSED_RANGE = '{"signal_noise": {"value": 15}, "overload_border": {"value": 0.5},' \
                 ' "duration": {"min": 10, "max": 5}}'


@pytest.mark.parametrize("make, code, logged", [
    (lambda: sonara.Session("/no/such/configuration.json"), 6, "/no/such/configuration.json"),
    (lambda: sonara.Session(""), 2, "Получено пустое название конфигураций"),
    (lambda: sonara.Session.from_text(""), 2, "Получено пустое название конфигураций"),
    (lambda: sonara.Session.from_text("{not json"), 6, None),
    (lambda: sonara.Session.from_text(REQUIRED_MISSING), 6,
     "[config] Configuration to old or damaged. overload_border required but not configured"),
    (lambda: sonara.Session.from_text(REVERSED_RANGE), 6,
     "Wrong configuration 'duration' : minimum value greater than maximum"),
], ids=["missing file", "empty path", "empty text", "not JSON", "required entry missing", "reversed range"])
def test_a_refused_configuration_raises_with_its_code_and_log_lines(make, code: int, logged) -> None:
    with pytest.raises(sonara.ConfigurationError) as caught:
        make()
    error = caught.value
    assert error.code == code
    assert error.log, "the library's log lines travel with the error"
    assert any(line.level == 5 for line in error.log)
    if logged is not None:
        assert any(logged in line.message for line in error.log), error.log_lines
        assert logged in str(error) or code == 2
    assert all(line.text.split(" ", 1)[0] in {"DEBUG", "INFO", "NOTICE", "WARN", "ERROR"} for line in error.log)


def test_a_refused_configuration_does_not_leave_the_logger_diverted(capfd: pytest.CaptureFixture[str]) -> None:
    with pytest.raises(sonara.ConfigurationError):
        sonara.Session.from_text(REQUIRED_MISSING)
    with sonara.Session(CONFIG) as session:
        capfd.readouterr()
        session.check(b"RIFF")  # too short: a warning, which the package leaves out by default
        assert capfd.readouterr().err == ""
        session.check(byte_built_cases()["not_riff"])  # errors still reach standard error
    assert "ERROR sound.cpp:" in capfd.readouterr().err


def test_text_with_a_nul_character_is_refused_before_the_library_sees_it() -> None:
    # The library would read only up to the NUL: another file, or another configuration.
    for make in (lambda: sonara.Session(str(CONFIG) + "\0.ignored"),
                 lambda: sonara.Session.from_text(CONFIG.read_text() + "\0{}")):
        with pytest.raises(ValueError, match="NUL"):
            make()
    with sonara.Session(CONFIG) as session, pytest.raises(ValueError, match="NUL"):
        session.set_sound_name("a\0b")
    with sonara.Session(CONFIG) as session:
        with pytest.raises(ValueError, match="unknown property"):
            session.enable("depth\0x", False)
        assert session.check(SAMPLES[0]).slots["depth"].enabled


def test_a_closed_session_refuses_every_use() -> None:
    session = sonara.Session(CONFIG)
    session.close()
    session.close()  # a second close does nothing
    assert session.closed
    data = SAMPLES[0].read_bytes()
    for use in (lambda: session.check(data), lambda: session.check_all(data),
                lambda: session.enable("depth", False), lambda: session.set_sound_name("x"),
                lambda: session.version, lambda: session.hash, lambda: session.library_version):
        with pytest.raises(sonara.SessionClosedError):
            use()
    with sonara.Session(CONFIG) as again:
        pass
    with pytest.raises(sonara.SessionClosedError):
        again.check(data)


def test_missing_and_unreadable_sources_raise_the_os_error(tmp_path: Path) -> None:
    with sonara.Session(CONFIG) as session:
        with pytest.raises(FileNotFoundError):
            session.check(tmp_path / "missing.wav")
        with pytest.raises(IsADirectoryError):
            session.check(tmp_path)
        # The session stays usable.
        assert session.check(SAMPLES[0]).slots


def run_isolated(code: str, env: dict[str, str], cwd: Path) -> subprocess.CompletedProcess[str]:
    clean = {key: value for key, value in os.environ.items()
             if key not in {"SONARA_LIBRARY", "SONARA_BUILD_DIR", "LD_LIBRARY_PATH", "PYTHONPATH"}}
    clean.update(env)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=clean, cwd=cwd,
                          capture_output=True, text=True, timeout=120)


LOAD = """
    import sonara
    try:
        path = sonara.library_path()
    except sonara.LibraryNotFoundError as error:
        print(error)
    else:
        print("LOADED", path)
"""


def test_a_library_that_cant_be_found_names_every_place_looked(tmp_path: Path) -> None:
    # A copy of the package outside the source tree, with no install record beside it.
    shutil.copytree(SOURCE / "python" / "sonara", tmp_path / "sonara",
                    ignore=shutil.ignore_patterns("_install.py", "__pycache__"))
    empty_build = tmp_path / "build"
    run = run_isolated(LOAD, {"PYTHONPATH": str(tmp_path), "SONARA_BUILD_DIR": str(empty_build)}, tmp_path)
    assert run.returncode == 0, run.stderr
    if run.stdout.startswith("LOADED"):
        pytest.skip(f"a libsonara is installed on this system: {run.stdout.strip()}")
    message = run.stdout
    assert "libsonara could not be loaded" in message
    for place in ("SONARA_LIBRARY: not set", "beside the installed package", f"SONARA_BUILD_DIR ({empty_build}/bin/",
                  "the system search path", "libsonara.so.1.2.5"):
        assert place in message, message

    missing = tmp_path / "nowhere" / "libsonara.so"
    run = run_isolated(LOAD, {"PYTHONPATH": str(tmp_path), "SONARA_LIBRARY": str(missing)}, tmp_path)
    assert f"SONARA_LIBRARY ({missing})" in run.stdout and "No such file" in run.stdout, run.stdout


def test_a_build_tree_is_found_without_being_named() -> None:
    library = Path(os.environ.get("SONARA_LIBRARY", ""))
    if not library.is_file():
        pytest.skip("SONARA_LIBRARY does not name the library under test")
    run = run_isolated(LOAD, {"PYTHONPATH": str(SOURCE / "python"), "SONARA_BUILD_DIR": str(library.parent.parent)},
                       SOURCE)
    assert run.stdout.strip() == f"LOADED {library}", run.stdout + run.stderr
    if SOURCE / "build" in library.parents:
        # Nothing set at all: the source tree's own build/*/bin.
        run = run_isolated(LOAD, {"PYTHONPATH": str(SOURCE / "python")}, SOURCE)
        loaded = Path(run.stdout.strip().removeprefix("LOADED "))
        assert run.stdout.startswith("LOADED") and SOURCE / "build" in loaded.parents, run.stdout + run.stderr


def test_a_sanitizer_build_without_its_runtime_is_passed_over(tmp_path: Path) -> None:
    # A source tree with the library under test in build/plain and, newer, a library built with
    # AddressSanitizer in build/sanitize: loading that one without its runtime preloaded would
    # end the interpreter, so the lookup must choose build/plain.
    library = Path(os.environ.get("SONARA_LIBRARY", ""))
    if not library.is_file():
        pytest.skip("SONARA_LIBRARY does not name the library under test")
    if "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("by design: the library under test is itself a sanitizer build; the plain build runs this")
    compiler = shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        pytest.skip("no C compiler to build a sanitizer library with")
    (tmp_path / "modules" / "sound").mkdir(parents=True)
    (tmp_path / "python").mkdir()
    shutil.copytree(SOURCE / "python" / "sonara", tmp_path / "python" / "sonara",
                    ignore=shutil.ignore_patterns("_install.py", "__pycache__"))
    (tmp_path / "build" / "plain").mkdir(parents=True)
    (tmp_path / "build" / "plain" / "bin").symlink_to(library.parent, target_is_directory=True)
    sanitized = tmp_path / "build" / "sanitize" / "bin" / library.name
    sanitized.parent.mkdir(parents=True)
    source = tmp_path / "probe.c"
    source.write_text("int sonara_probe(void) { return 1; }\n")
    built = subprocess.run([compiler, "-shared", "-fPIC", "-fsanitize=address", "-o", str(sanitized),
                            str(source)], capture_output=True, text=True, timeout=120)
    if built.returncode != 0:
        pytest.skip(f"no AddressSanitizer to build with: {built.stderr.strip()}")
    newest = library.stat().st_mtime + 60
    os.utime(sanitized, (newest, newest))

    env = {"PYTHONPATH": str(tmp_path / "python")}
    run = run_isolated(LOAD, env, tmp_path)
    assert run.stdout.strip() == f"LOADED {tmp_path / 'build' / 'plain' / 'bin' / library.name}", \
        run.stdout + run.stderr
    # Named explicitly it is refused with the reason, not loaded into a dying interpreter.
    run = run_isolated(LOAD, {**env, "SONARA_LIBRARY": str(sanitized)}, tmp_path)
    assert run.returncode == 0 and "runtime is not preloaded" in run.stdout, run.stdout + run.stderr
    # With no other build left the message says why the sanitizer build was passed over.
    (tmp_path / "build" / "plain" / "bin").unlink()
    run = run_isolated(LOAD, env, tmp_path)
    if run.stdout.startswith("LOADED"):
        pytest.skip(f"a libsonara is installed on this system: {run.stdout.strip()}")
    assert f"the source tree's build ({sanitized}): built with a sanitizer" in run.stdout, \
        run.stdout + run.stderr
