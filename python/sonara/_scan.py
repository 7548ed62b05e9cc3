"""Checking many files at once: the archive engine walks, checks and orders; this module hands
its records on as ``(path, Result)`` pairs."""

from __future__ import annotations

import os
from types import TracebackType
from typing import Iterable, Iterator, Optional, Union

from . import _vocabulary as vocabulary
from ._archive import (DEFAULT_MAX_CLIPPED, DEFAULT_MAX_SIZE, JSONL, Archive, PathArgument,
                       Record, check_options, merge_exit_statuses)
from ._logs import logs
from ._result import Result
from ._session import ConfigurationError

PathsArgument = Union[PathArgument, Iterable[PathArgument]]

# What a walk with decode=True looks at, as `sonara check --decode` does.
DECODE_EXTENSIONS: tuple[str, ...] = tuple(vocabulary.DECODE_EXTENSIONS)


def _given(paths: PathsArgument) -> list[PathArgument]:
    if isinstance(paths, (str, bytes, os.PathLike)):
        return [paths]
    return list(paths)


def open_archive(paths: PathsArgument, config: Optional[PathArgument] = None, *,
                 config_text: Optional[str] = None, jobs: Optional[int] = None,
                 all: bool = False, recursive: bool = True, decode: bool = False,
                 strict: bool = False, max_size: int = DEFAULT_MAX_SIZE,
                 files0: Optional[PathArgument] = None, segments: bool = False,
                 max_clipped: float = DEFAULT_MAX_CLIPPED, format: int = JSONL) -> Archive:
    """An engine handle over ``paths`` (and the NUL-separated list ``files0``), not started."""
    check_options(jobs, max_size, max_clipped)
    given = _given(paths)  # before the engine starts: an iterator may raise
    archive = Archive(configuration=config, configuration_text=config_text, format=format,
                      jobs=jobs or 0, all=all, strict=strict, decode=decode, segments=segments,
                      recurse=recursive, max_size=max_size, max_clipped=max_clipped)
    try:
        for path in given:
            archive.add_path(path)
        if files0 is not None:
            archive.add_list(files0, nul_separated=True)
    except BaseException:
        archive.close()
        raise
    return archive


def _default_configuration() -> Optional[str]:
    from ._library import LibraryNotFoundError, library_path

    try:
        beside = os.path.join(os.path.dirname(library_path()), "cv_configuration.json")
    except LibraryNotFoundError:
        return None
    return beside if os.path.isfile(beside) else None


def find_files(paths: PathsArgument, recursive: bool = True, decode: bool = False, *,
               config: Optional[PathArgument] = None,
               files0: Optional[PathArgument] = None) -> list[str]:
    """The files that ``scan`` checks, sorted by their bytes and each once, as the engine
    collects them: a path that names a file is taken whatever its name, a folder gives the
    files in it with the extensions of a walk (``.wav``, with ``decode`` also those of
    :data:`DECODE_EXTENSIONS`; any letter case), recursively unless ``recursive`` is false,
    links to files followed and links to folders not; a list file (``.txt .lst .list``) gives
    the paths it names. Every path named or found is listed, FIFOs, dangling links and files
    that don't exist too: ``scan`` gives each a record with its error. A path that is not
    UTF-8 comes back with its bytes as surrogate escapes (``os.fsencode`` restores them).

    The engine makes a session as it starts, so it needs a configuration: ``config``, or the
    ``cv_configuration.json`` beside the loaded libsonara."""
    if config is None:
        config = _default_configuration()
        if config is None:
            raise ConfigurationError(None, [], None, reason="find_files needs a configuration "
                                     "(none beside the loaded libsonara): give config=")
    with open_archive(paths, config, recursive=recursive, decode=decode, files0=files0) as archive:
        return [os.fsdecode(path) for path, _ in archive.items()]


def result_of(record: Record) -> tuple[str, Result]:
    """The ``(path, Result)`` of a JSON Lines record handed out by the engine."""
    return os.fsdecode(record.path), Result.from_json(record.text)


class _Scan:
    """The iterator ``scan`` returns: the engine checks ahead on its workers, records come out
    in path order; closing it stops them."""

    def __init__(self, archive: Archive) -> None:
        self._archive = archive
        self.exit_status: Optional[int] = None

    def __iter__(self) -> "_Scan":
        return self

    def _next_record(self) -> Optional[Record]:
        return self._archive.next()

    def _final_status(self) -> int:
        return self._archive.exit_status()

    def __next__(self) -> tuple[str, Result]:
        record = None if self._archive.closed else self._next_record()
        if record is None:
            if self.exit_status is None and not self._archive.closed:
                self.exit_status = self._final_status()
            self.close()
            raise StopIteration
        return result_of(record)

    def close(self) -> None:
        """Stops the engine's workers and destroys their sessions; later ``next`` calls end
        at once."""
        self._archive.close()

    @property
    def closed(self) -> bool:
        return self._archive.closed

    def __enter__(self) -> "_Scan":
        return self

    def __exit__(self, kind: Optional[type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass


class _LabelledScan(_Scan):
    """A scan while :func:`capture_logs` is active: the library's logger is one per process
    and its lines carry no file, so each file is checked by an engine run of its own, one
    after the other, and every line written meanwhile is labelled with that file's path. The
    records are the same; the run is slower by a session per file."""

    def __init__(self, archive: Archive, settings: dict[str, object]) -> None:
        super().__init__(archive)
        self._items = iter(archive.items())
        self._settings = settings
        self._statuses: list[int] = []

    def _final_status(self) -> int:
        return merge_exit_statuses(self._statuses)

    def _next_record(self) -> Optional[Record]:
        item = next(self._items, None)
        if item is None:
            return None
        path, error = item
        label = os.fsdecode(path)
        logs.drain()
        with Archive(jobs=1, **self._settings) as single:  # type: ignore[arg-type]
            logs.drain()  # the session's creation: no file of its own
            single.add_item(path, error)
            record = single.next()
            self._statuses.append(single.exit_status())
        logs.drain(label)
        return record


def scan(paths: PathsArgument, config: PathArgument, jobs: Optional[int] = None,
         all: bool = False, recursive: bool = True, decode: bool = False, strict: bool = False,
         max_size: int = DEFAULT_MAX_SIZE, files0: Optional[PathArgument] = None,
         segments: bool = False,
         max_clipped: float = DEFAULT_MAX_CLIPPED) -> Iterator[tuple[str, Result]]:
    """Checks every file that ``paths`` name (see :func:`find_files`) with the archive engine
    and yields ``(path, Result)`` in sorted path order, one for every path named or found.

    ``config`` is a configuration file or folder; ``jobs`` worker threads (default: the
    online processors; capped at the number of files) each check with a session of their own.
    ``all`` uses ``v_check_all``. ``strict`` adds the strict verdict (``Result.strict``),
    failing a channel with more than ``max_clipped`` of its samples clipped. ``decode``
    converts what is not integer PCM WAV and walks folders for :data:`DECODE_EXTENSIONS`.
    ``max_size`` (bytes, default 4 GiB): a larger file is a record with an error, never read.
    ``files0``: a file of NUL-separated paths ("-": standard input), as ``find -print0``
    writes. ``segments``: the evidence carries each channel's speech segments.

    A file that can't be checked (unreadable, too large, not a regular file, undecodable) gives
    a :class:`Result` with ``error`` set. The configuration is read, and a refused one raises
    :class:`ConfigurationError`, before this returns; a refused list file raises
    :class:`UsageError`. The iterator stops the engine when exhausted, on ``close()``, at the
    end of a ``with`` block, or when it is dropped unfinished. Once exhausted, its
    ``exit_status`` is ``sonara check``'s for the same run: 0 every file passed, 1 some file
    failed, 3 some file could not be checked or none was found (None before the end).
    """
    archive = open_archive(paths, config, jobs=jobs, all=all, recursive=recursive,
                           decode=decode, strict=strict, max_size=max_size, files0=files0,
                           segments=segments, max_clipped=max_clipped)
    if logs.capturing:
        settings = dict(configuration=config, all=all, strict=strict, decode=decode,
                        segments=segments, recurse=recursive, max_size=max_size,
                        max_clipped=max_clipped)
        try:
            return _LabelledScan(archive, settings)
        except BaseException:
            archive.close()
            raise
    return _Scan(archive)
