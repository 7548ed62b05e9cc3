"""Generated from modules/archive/vocabulary.json by generate_vocabulary.py: do not edit."""

RESULTS_SCHEMA = 2

# Slots in the library's chain order, with the unit of each value (None: no unit).
SLOT_UNITS = {'length': 'KiB', 'sample_rate': 'Hz', 'voice_duration': 's', 'overload': None, 'telephony_border': 'dB', 'channels': 'channels', 'depth': 'bits', 'duration': 's', 'signal_noise': 'dB'}
SLOT_PROPERTIES = {'length': 'length', 'sample_rate': 'sample_rate', 'voice_duration': 'voice_duration', 'overload': 'overload_border', 'telephony_border': 'telephony_border', 'channels': 'channels', 'depth': 'depth', 'duration': 'duration', 'signal_noise': 'signal_noise'}
SLOT_LABELS = {'length': 'length', 'sample_rate': 'sample rate', 'voice_duration': 'voice duration', 'overload': 'overload coefficient', 'telephony_border': 'telephony border', 'channels': 'channels', 'depth': 'depth', 'duration': 'duration', 'signal_noise': 'signal-to-noise'}
INTEGER_SLOTS = ('sample_rate', 'channels', 'depth', )

# (code, name, slot whose failure it names, meaning)
STATES = (
    (0, 'STATE_OK', None, 'every judged value passed'),
    (101, 'STATE_BAD_SESSION', None, 'the session record is not a live session'),
    (102, 'STATE_BAD_CONFIGURATION', None, 'the configuration could not be read or was refused'),
    (103, 'STATE_CONTENT_FAILED', None, 'no content (an empty file)'),
    (104, 'STATE_HEAD_FAILED', None, 'no usable RIFF/WAVE header'),
    (105, 'STATE_UNPACK_FAILED', None, 'the samples could not be decoded'),
    (106, 'STATE_SIGNAL_NOISE_FAILED', 'signal_noise', "some channel's signal-to-noise is under the border"),
    (107, 'STATE_CHANNELS_FAILED', 'channels', 'channel count out of range'),
    (108, 'STATE_SAMPLE_RATE_FAILED', 'sample_rate', 'sample rate out of range'),
    (109, 'STATE_DEPTH_FAILED', 'depth', 'bits per sample out of range'),
    (110, 'STATE_LENGTH_FAILED', 'length', 'file size out of range'),
    (111, 'STATE_DURATION_FAILED', 'duration', 'duration out of range'),
    (112, 'STATE_TELEPHONY_BORDER_FAILED', 'telephony_border', 'telephony border not above the border'),
    (113, 'STATE_OVERLOAD_BORDER_FAILED', 'overload', 'overload coefficient not below the border'),
    (114, 'STATE_VOICE_DURATION_FAILED', 'voice_duration', 'less voice than the border'),
)
SLOT_STATE_TEXTS = {0: 'not evaluated', 1: 'passed', 2: 'failed'}
SESSION_RETURN_CODES = {0: 'created', 1: 'configuration pointer null', 2: 'configuration empty', 6: 'configuration not read', 7: 'record pointer null', 8: 'record damaged'}

EXIT_PASSED = 0  # every file passed
EXIT_FAILED = 1  # some file failed a check (or --strict)
EXIT_USAGE = 2  # usage or configuration error
EXIT_NOT_CHECKED = 3  # some input could not be checked, or nothing was checked
EXIT_INTERRUPTED = 130  # stopped by SIGINT
EXIT_TERMINATED = 143  # stopped by SIGTERM

WAV_EXTENSIONS = ('.wav', )
DECODE_EXTENSIONS = ('.wav', '.flac', '.ogg', '.oga', '.opus', '.mp3', )
LIST_EXTENSIONS = ('.txt', '.lst', '.list', )

# Per-channel evidence: (name, unit, integer)
DETAIL_FIELDS = (
    ('peak_dbfs', 'dBFS', False),
    ('rms_dbfs', 'dBFS', False),
    ('dc_offset', None, False),
    ('clipped_samples', None, True),
    ('speech_seconds', 's', False),
)
DETAIL_CSV_CHANNELS = 2
