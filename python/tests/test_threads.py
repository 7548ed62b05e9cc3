"""A check releases the GIL: two threads are inside the library at the same moment.

The proof needs no clock. libcommon's logger is pointed at a pipe that is already full, so the
first log line a check writes blocks it inside the library until someone reads the pipe. Thread
A checks a file that fails (and so logs); the main thread waits until the kernel shows A's
thread inside write(2) on that pipe, then checks a file that logs nothing and gets its result
while A is still blocked inside v_check; only then is the pipe read and A let go. If a check
held the GIL, the main thread could not run while A is inside the library and the run would
hang: it runs in a child process with a timeout so that a hang fails the test instead.
"""

from __future__ import annotations

import subprocess
import sys

import pytest

from conftest import CONFIG, SAMPLES

CHILD = r"""
import ctypes, ctypes.util, fcntl, os, sys, threading
import sonara
from sonara._library import library

failing, passing, config = sys.argv[1:4]
read_end, write_end = os.pipe()
fcntl.fcntl(write_end, 1031, 4096)  # F_SETPIPE_SZ: one page
fcntl.fcntl(write_end, fcntl.F_SETFL, os.O_NONBLOCK)
try:
    while True:
        os.write(write_end, b"x" * 512)
except BlockingIOError:
    pass
fcntl.fcntl(write_end, fcntl.F_SETFL, 0)  # the library's write must block, not fail

libc = ctypes.CDLL(ctypes.util.find_library("c"))
libc.fdopen.restype = ctypes.c_void_p
libc.fdopen.argtypes = [ctypes.c_int, ctypes.c_char_p]
stream = libc.fdopen(write_end, b"w")

a, b = sonara.Session(config), sonara.Session(config)
log_init = library().optional("log_init")
log_init(4, stream, 0, 0)  # warnings and errors only: the passing file writes nothing

a_result = []
a_thread = threading.Thread(target=lambda: a_result.append(a.check(failing)))
a_thread.start()


def blocked_writing() -> bool:
    # A's native thread sits in write(2) on the pipe: the kernel shows the call and its fd.
    task = f"/proc/self/task/{a_thread.native_id}"
    try:
        with open(f"{task}/syscall") as file:
            fields = file.read().split()
    except FileNotFoundError:
        return False  # the thread has not started yet, or has ended
    except OSError:
        print("SKIP: this kernel does not show a thread's system call")
        sys.exit(0)
    return len(fields) > 1 and fields[0] == "1" and int(fields[1], 16) == write_end


while not blocked_writing():  # this loop runs only because A's check let go of the GIL
    if a_result:
        sys.exit("A's check returned without writing to the full pipe")
    threading.Event().wait(0.001)
b_result = b.check(passing)
print("B returned", b_result.state.name, "while A was", "done" if a_result else "inside the library",
      "blocked" if blocked_writing() else "running")
os.set_blocking(read_end, False)
drained = b""
while a_thread.is_alive() or True:
    try:
        chunk = os.read(read_end, 1 << 16)
    except BlockingIOError:
        if not a_thread.is_alive():
            break
        a_thread.join(0.01)
        continue
    drained += chunk
log_init(3, None, 0, 0)
print("A returned", a_result[0].state.name)
print("A logged", b"overload failed" in drained)
"""


def test_a_check_releases_the_gil_so_two_threads_are_inside_at_once() -> None:
    failing = SAMPLES[0].parent / "clipped_44100_mono.wav"  # fails on overload: logs a warning
    passing = SAMPLES[0].parent / "clean_16000_mono.wav"
    run = subprocess.run([sys.executable, "-c", CHILD, str(failing), str(passing), str(CONFIG)],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    if run.stdout.startswith("SKIP: "):
        pytest.skip(run.stdout.strip().removeprefix("SKIP: "))
    assert run.stdout.splitlines() == [
        "B returned STATE_OK while A was inside the library blocked",
        "A returned STATE_OVERLOAD_BORDER_FAILED",
        "A logged True",
    ], run.stdout + run.stderr


def test_threads_sharing_one_session_take_turns() -> None:
    # Calls on one session must not overlap: the session's lock makes them take turns, so every
    # thread reads back the slots of its own check.
    import threading

    import sonara

    files = SAMPLES * 3
    with sonara.Session(CONFIG) as session:
        expected = {path: session.check(path) for path in SAMPLES}
        got: list[tuple[object, object]] = []
        barrier = threading.Barrier(4)

        def work(offset: int) -> None:
            barrier.wait()
            for path in files[offset:] + files[:offset]:
                got.append((path, session.check(path)))

        threads = [threading.Thread(target=work, args=(n * 7,)) for n in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    assert len(got) == 4 * len(files)
    for path, result in got:
        assert result == expected[path], path
