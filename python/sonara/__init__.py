"""Judging the technical fitness of voice recordings with libsonara, from Python::

    import sonara
    with sonara.Session("config/cv_configuration.json") as session:
        result = session.check("samples/clean_16000_mono.wav")
    print(result.state.name, result.passed, result.slots["signal_noise"].value)
    frame = sonara.to_dataframe(sonara.scan("samples", "config/cv_configuration.json"))

The package reaches the shared libraries through ctypes: libsonara for :class:`Session` (see
:mod:`sonara._library` for where it looks), and the archive engine libsonara_archive beside it
for :func:`scan`, :func:`find_files` and :mod:`sonara.distributed`, which write the same
records as ``sonara check``. It needs nothing but the standard library, and pandas for
:func:`to_dataframe`.
"""


from ._archive import UsageError
from ._convert import DecodeError
from ._frame import columns as dataframe_columns
from ._frame import to_dataframe
from ._library import LibraryNotFoundError, SonaraError, library_path
from ._logs import capture_logs
from ._result import (SCHEMA, SLOT_NAMES, SLOT_UNITS, ChannelDetails, Details, Result, Slot,
                      SlotState, State, Strict)
from ._scan import DECODE_EXTENSIONS, find_files, scan
from ._session import PROPERTY_NAMES, ConfigurationError, Session, SessionClosedError
from ._version import VERSION as __version__

__all__ = [
    "ChannelDetails",
    "ConfigurationError",
    "DECODE_EXTENSIONS",
    "DecodeError",
    "Details",
    "LibraryNotFoundError",
    "PROPERTY_NAMES",
    "Result",
    "SCHEMA",
    "SLOT_NAMES",
    "SLOT_UNITS",
    "Session",
    "SessionClosedError",
    "Slot",
    "SlotState",
    "SonaraError",
    "State",
    "Strict",
    "UsageError",
    "__version__",
    "capture_logs",
    "dataframe_columns",
    "find_files",
    "library_path",
    "scan",
    "to_dataframe",
]
