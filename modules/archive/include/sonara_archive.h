/*
 * libsonara_archive: the one road from "a list of paths" to "a stream of records".
 *
 * Every front end (the sonara program, the Python package, the Dask workers) asks this engine:
 * it takes files, folders and list files, walks them, reads each file within the size limit,
 * probes it with libsonara's own header walk, decodes it through libsonara_convert when asked,
 * checks it on a session owned by the worker thread, applies the strict rules, and writes the
 * record (text, JSON Lines or CSV) whole, in path order, byte-identical for any number of jobs.
 * The summary and the exit status come from here too.
 *
 * Usage: sonara_archive_options_init, sonara_archive_create, any number of sonara_archive_add_*
 * calls, then sonara_archive_next until it answers false, then the summary and exit status,
 * then sonara_archive_destroy. One archive is driven from one thread (its workers are its own);
 * independent archives may run at once. Nothing is thrown; every text handed out is UTF-8
 * (paths excepted: they are the bytes given or found) and owned by the archive.
 */
#ifndef SONARA_ARCHIVE_H
#define SONARA_ARCHIVE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define SONARA_ARCHIVE_API __attribute__((visibility("default")))
#else
#define SONARA_ARCHIVE_API
#endif

/* Record formats. */
enum SonaraArchiveFormat {
    SONARA_ARCHIVE_TEXT = 0,  /* one readable line per file */
    SONARA_ARCHIVE_JSONL = 1, /* docs/results-schema.md */
    SONARA_ARCHIVE_CSV = 2    /* docs/results-schema.md; sonara_archive_header gives the header row */
};

/* Exit statuses, shared by every front end. */
enum SonaraArchiveExit {
    SONARA_ARCHIVE_EXIT_PASSED = 0,       /* every file passed */
    SONARA_ARCHIVE_EXIT_FAILED = 1,       /* some file failed a check (or --strict) */
    SONARA_ARCHIVE_EXIT_USAGE = 2,        /* usage or configuration error */
    SONARA_ARCHIVE_EXIT_NOT_CHECKED = 3,  /* some input could not be checked, or none was found */
    SONARA_ARCHIVE_EXIT_INTERRUPTED = 130,
    SONARA_ARCHIVE_EXIT_TERMINATED = 143
};

#define SONARA_ARCHIVE_DEFAULT_MAX_SIZE ((uint64_t)4 << 30) /* 4 GiB */
#define SONARA_ARCHIVE_DEFAULT_MAX_CLIPPED 0.001

/* What a run does. Fill with sonara_archive_options_init, then change what differs. */
typedef struct SonaraArchiveOptions {
    uint32_t struct_size;            /* sizeof(SonaraArchiveOptions), set by options_init */
    const char *configuration;       /* a configuration file, or a folder of cv_configuration.json */
    const char *configuration_text;  /* or the configuration itself, used when configuration is null */
    int format;                      /* enum SonaraArchiveFormat */
    unsigned jobs;                   /* worker threads, one session each; 0: online processors.
                                        Capped at the number of files and at what the system gives */
    bool all;                        /* v_check_all instead of v_check */
    bool strict;                     /* add the strict verdict */
    bool decode;                     /* convert what is not integer PCM WAV; folders also walked for
                                        the decode extensions */
    bool segments;                   /* details carry each channel's speech segments */
    bool recurse;                    /* folders are walked into their subfolders (default true) */
    uint64_t max_size;               /* larger files are records with an error, never read whole */
    double max_clipped;              /* --strict: the share of clipped samples a channel may have */
    /* Warnings (a skipped thread, nothing found): null writes "sonara: TEXT" to standard error. */
    void (*warn)(void *user, const char *text);
    void *warn_user;
} SonaraArchiveOptions;

typedef struct SonaraArchive SonaraArchive;

/* One finished file, handed out in path order. Texts stay valid until the next call on the
 * archive. */
typedef struct SonaraArchiveRecord {
    size_t index;          /* position in path order, from 0 */
    size_t count;          /* files in the run */
    const char *path;      /* the path's bytes, NUL-terminated */
    const char *text;      /* the whole record in the run's format, ending with a newline */
    size_t text_size;
    int32_t state;         /* the session's state after the check; -1: not checked */
    bool checked;          /* false: the record carries an error instead of values */
    bool passed;           /* checked, passed by the library and, with strict, by the strict rules */
    double audio_seconds;  /* the header's duration when the header was read, else 0 */
} SonaraArchiveRecord;

/* The defaults: text, jobs 0, recurse, 4 GiB, max_clipped 0.001. */
SONARA_ARCHIVE_API void sonara_archive_options_init(SonaraArchiveOptions *options);

/* Creates an archive and its first session (further sessions come when the run starts).
 * SONARA_ARCHIVE_EXIT_PASSED (0) and *out; else SONARA_ARCHIVE_EXIT_USAGE with the reason in
 * error (a refused configuration, bad options) and *out null. */
SONARA_ARCHIVE_API int sonara_archive_create(const SonaraArchiveOptions *options, SonaraArchive **out,
                                             char *error, size_t error_size);
/* Stops the workers, if running, and releases everything. Null is ignored. */
SONARA_ARCHIVE_API void sonara_archive_destroy(SonaraArchive *archive);

/* Sources, before the first sonara_archive_next. Each answers 0, or SONARA_ARCHIVE_EXIT_USAGE
 * with the reason in sonara_archive_error. */
/* A file (checked whatever its name), a folder (walked for the format's extensions), or a list
 * file (a name ending in .txt, .lst or .list: one path a line, blank and '#' lines skipped). */
SONARA_ARCHIVE_API int sonara_archive_add_path(SonaraArchive *archive, const char *path);
/* The paths of a list file ("-": standard input): one a line, or NUL-separated. A NUL inside a
 * newline-separated list is refused, never merged into a path. */
SONARA_ARCHIVE_API int sonara_archive_add_list(SonaraArchive *archive, const char *list, bool nul_separated);
/* Exactly this file, not walked and not read as a list (the items of a batch); error non-null
 * makes it a record with that error, unchecked. */
SONARA_ARCHIVE_API int sonara_archive_add_item(SonaraArchive *archive, const char *path, const char *error);

/* Resolves the sources into the sorted list of items (each path once). Called by the first
 * sonara_archive_next when not called before; calling it again does nothing. */
SONARA_ARCHIVE_API int sonara_archive_collect(SonaraArchive *archive);
SONARA_ARCHIVE_API size_t sonara_archive_count(const SonaraArchive *archive);
/* Item index of the collected list: its path, and its error (null when it is to be checked). */
SONARA_ARCHIVE_API const char *sonara_archive_item_path(const SonaraArchive *archive, size_t index);
SONARA_ARCHIVE_API const char *sonara_archive_item_error(const SonaraArchive *archive, size_t index);

/* What comes before the first record: the CSV header row, "" for the other formats. */
SONARA_ARCHIVE_API const char *sonara_archive_header(const SonaraArchive *archive);

/* Starts the workers on the first call and hands out the next record in path order. false at
 * the end, or once the run was cancelled and the records in hand are finished or dropped. */
SONARA_ARCHIVE_API bool sonara_archive_next(SonaraArchive *archive, SonaraArchiveRecord *record);
/* Safe in a signal handler: no more work is handed out; signal (0, SIGINT or SIGTERM) chooses
 * the exit status. */
SONARA_ARCHIVE_API void sonara_archive_cancel(SonaraArchive *archive, int signal);

/* The worker threads the run uses (known once it has started). */
SONARA_ARCHIVE_API unsigned sonara_archive_jobs(const SonaraArchive *archive);
/* The closing figures of the records handed out so far: a paragraph for standard error, and
 * one JSON object (the --summary-json file). exit_status as sonara_archive_exit_status gives. */
SONARA_ARCHIVE_API const char *sonara_archive_summary_text(SonaraArchive *archive);
SONARA_ARCHIVE_API const char *sonara_archive_summary_json(SonaraArchive *archive, int exit_status);
/* 0, 1 or 3 from the records handed out (3 also when none was found); 130/143 after a cancel by
 * signal. output_failed (the caller could not write a record or the summary) makes it 3. */
SONARA_ARCHIVE_API int sonara_archive_exit_status(const SonaraArchive *archive, bool output_failed);

/* The reason of the last failing call; "" when none. */
SONARA_ARCHIVE_API const char *sonara_archive_error(const SonaraArchive *archive);
/* The engine's version, "major.minor.patch" of the project. */
SONARA_ARCHIVE_API const char *sonara_archive_version(void);
/* The version text of one component, static, or null for an unknown name: "libsonara" (the
   checking library built with this engine), "vendor" (its version block's vendor text),
   "libsoxr" and "libsndfile" (as the loaded libraries report it: soxr_version(),
   sf_version_string()), "detector" (the voice-activity detector the build links). */
SONARA_ARCHIVE_API const char *sonara_archive_component_version(const char *component);
/* sizeof(SonaraArchiveOptions) and sizeof(SonaraArchiveRecord), for bindings that declare them. */
SONARA_ARCHIVE_API size_t sonara_archive_options_size(void);
SONARA_ARCHIVE_API size_t sonara_archive_record_size(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* SONARA_ARCHIVE_H */
