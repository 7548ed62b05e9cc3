/*
 * libsonara: judges the technical fitness of WAV recordings held in memory.
 *
 * A caller zero-fills a Session, creates a session on it from a JSON configuration, checks
 * complete WAV files with v_check, reads the result chain with v_result_session and the status
 * code from Session.state, and destroys the session. Nothing is thrown; every failure is
 * reported by the result, by Session.state where the record can be written, and by a log line.
 */
#ifndef SONARA_H
#define SONARA_H

#include <stdint.h>

#include "session_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Return codes of the voice_session_ functions. */
enum VoiceSessionCode {
    VOICE_SESSION_OK = 0,
    VOICE_SESSION_CONFIGURATION_NULL = 1,
    VOICE_SESSION_CONFIGURATION_EMPTY = 2,
    VOICE_SESSION_CONFIGURATION_NOT_READ = 6,
    VOICE_SESSION_RECORD_NULL = 7,
    VOICE_SESSION_RECORD_DAMAGED = 8
};

/* Creates a session from a configuration file, or a directory holding cv_configuration.json. */
int voice_session_init(Session *session, const char *path);
/* Creates a session from configuration text. */
int voice_session_init_from_memory(Session *session, const char *text);
/* true when voice_session_init returned 0. */
bool v_create_session(Session *session, const char *path);
/* true when voice_session_init_from_memory returned 0. */
bool v_create_session_from_memory(Session *session, const char *text);
/* Sets libcommon's process-wide logger (level, FILE* target or null for stderr), then creates. */
bool v_create_session_with_log(Session *session, const char *path, int log_level, void *log_target);

/* The configuration's version text; owned by the session. An invalid record gets a fresh
 * "unknown" that the caller releases with free(). */
char *v_session_configuration_version(Session *session);
/* The configuration's SHA-256 text; ownership as for the version. */
char *v_session_configuration_hash(Session *session);
/* Stores in *out (when out is not null) the first slot of the result chain, owned by the session. */
bool v_result_session(Session *session, SessionValue **out);

/* Destroys the session and clears the version block. */
int voice_session_destroy(Session *session);
/* true when voice_session_destroy returned 0. */
bool v_destroy_session(Session *session);

/* Judges one complete WAV file (content is read, never kept). true when every value passed. */
bool v_check(Session *session, const unsigned char *content, size_t size);
/* Answers exactly as v_check, with the same state (the first failing step), but does not stop
 * there: the header values are recorded whenever the header can be read, and all four
 * measurements whenever the samples can be decoded, whatever the switches say. Each value is
 * judged as configured; a switched-off check records its value and passes. */
bool v_check_all(Session *session, const unsigned char *content, size_t size);

/* A source of a file's bytes: read_at copies up to size bytes at offset into buffer and answers
 * how many (0 at the end, -1 on error, errno kept). */
typedef struct SonaraReader {
    int64_t (*read_at)(void *user, unsigned char *buffer, size_t size, uint64_t offset);
    void *user;
    uint64_t size;        /* the file's size: the length slot, as v_check's size */
    int error;            /* set by the check: 0, or the errno of a failed read, or EIO when the
                           * file ended before `size` (it shrank) */
} SonaraReader;
/* Judges the file the reader serves exactly as v_check (all false) or v_check_all (all true)
 * judges the same bytes held in memory: same result, state, slots and log lines. A read that
 * fails or comes short sets reader->error and the check answers false; its state and slots then
 * mean nothing. The header is read in bounded blocks and the payload a block at a time, once per
 * channel, so the memory a check takes is fixed whatever the file's size. */
bool v_check_reader(Session *session, SonaraReader *reader, bool all);
/* The same over an open file descriptor (positioned reads with pread; size from fstat). */
bool v_check_fd(Session *session, int fd, bool all, int *error);

/* Switches one configured check on or off for this session, by its property name. */
bool v_enable_property(Session *session, const char *name, bool enable);
/* Sets a debug property; "processing_sound_name" is the only one. The value is copied. */
bool v_dbg_set_property(Session *session, const char *name, const char *value);

/* The header fields of a WAV file as the check reads them: the library's own chunk walk (the
 * last 'fmt ' chunk before 'data'), without its log lines. */
typedef struct SonaraWavFormat {
    bool riff_wave;            /* starts with "RIFF", size, "WAVE" */
    bool has_format;           /* a complete 'fmt ' chunk was read before 'data' (or the end) */
    bool head_usable;          /* the check would accept the header (read_head) */
    uint16_t format_code;      /* 1 PCM, 3 float, 0xFFFE extensible, ... */
    uint16_t channels;
    uint32_t sample_rate;
    uint32_t byte_rate;
    uint16_t block_align;
    uint16_t bits_per_sample;
    uint32_t fmt_size;         /* the 'fmt ' chunk's declared size */
    bool pcm_sub_format;       /* extensible, and its sub-format GUID is integer PCM */
    uint32_t data_size;        /* the 'data' chunk's declared size (head_usable only) */
    double duration;           /* seconds, as the check computes it (head_usable only) */
    bool reached_data;         /* the walk came to a 'data' chunk: the start of a file given
                                  here describes the whole file's format */
} SonaraWavFormat;

/* Fills *out from content (any bytes, any size; null or empty gives an all-false record). true
 * when has_format. Logs nothing, keeps nothing, safe on any number of threads. */
bool v_read_format(const unsigned char *content, size_t size, SonaraWavFormat *out);

/* One configured limit as the session stores and judges it: a range (min ≤ value ≤ max, in the
 * entry's unit; length in KiB) or a border (minimum = maximum = the border). */
typedef struct SonaraLimit {
    bool range;       /* min/max entry; false: a border */
    bool configured;  /* the configuration named the entry; false: switched off with zero limits */
    bool enabled;     /* the entry's enable, as this session's switches left it */
    double minimum;
    double maximum;
} SonaraLimit;

/* The limit of one property ("length", "duration", "signal_noise", "overload_border", ...). false
 * for an unknown property or an invalid session; the session's state is left as it is. */
bool v_session_limit(Session *session, const char *property, SonaraLimit *out);

/* Evidence beside the values: what each channel of the decoded 16-bit samples x (N frames)
 * measures, kept by the checks of a session that asked for it. v_check and v_check_all give
 * exactly the same results with or without it; without it they do no work for it.
 *   peak_dbfs        20*log10(max|x| / 32768); NaN when max|x| is 0
 *   rms_dbfs         10*log10(mean(x^2) / 32768^2); NaN when that mean is 0 (or N is 0)
 *   dc_offset        mean(x) / 32768; NaN when N is 0
 *   clipped_samples  samples in runs of at least two consecutive equal samples with |x| >= 32512
 *   speech_seconds   the channel's speech time by the voice detector (its frames classed speech,
 *                    at 8000 Hz); NaN when the check made no detector pass
 *   segments         the detector's speech frames, consecutive ones merged, [start, end) seconds
 * The check walks every channel in one pass whatever step it stops at; a v_check that measures
 * nothing after the header (its three measurement switches off) decodes the samples once more for
 * the evidence alone, without the detector (speech_seconds NaN, no segments). */
#define SONARA_DETAILS_EVIDENCE 1u /* peak, RMS, DC offset, clipped samples, speech seconds */
#define SONARA_DETAILS_SEGMENTS 2u /* also the detector's speech segments */

/* Asks this session's following checks to keep details (flags above; 0 stops it). false for an
 * invalid session or unknown flags (nothing changes then). */
bool v_set_details(Session *session, unsigned flags);

typedef struct SonaraSegment {
    double start; /* seconds */
    double end;
} SonaraSegment;

typedef struct SonaraChannelDetails {
    double peak_dbfs, rms_dbfs, dc_offset; /* NaN where not measured (see above) */
    uint64_t clipped_samples;
    double speech_seconds;          /* NaN: the detector did not run on this channel */
    uint64_t frames;                /* N */
    const SonaraSegment *segments;  /* segments asked and speech measured: segment_count
                                       entries (never null, even for none); else null */
    uint64_t segment_count;
} SonaraChannelDetails;

typedef struct SonaraDetails {
    bool measured;                         /* the last check decoded the samples */
    uint32_t channel_count;                /* 0 unless measured */
    const SonaraChannelDetails *channels;  /* owned by the session until its next check or destroy */
} SonaraDetails;

/* Stores in *out the details of the session's last check (measured false when it stopped before
 * the samples), owned by the session until its next check or destruction. false, *out null, when
 * the last check kept none: details not asked, no check yet, an invalid session, or the details'
 * own memory ran out (logged by the check, whose result stays as it is). */
bool v_details_session(Session *session, const SonaraDetails **out);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* SONARA_H */
