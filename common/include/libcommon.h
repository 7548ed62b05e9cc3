/*
 * libcommon: the services every deliverable links: logging, configuration reading, files and
 * paths, run-time loading of the checking libraries into a SessionProxy, and result printing.
 */
#ifndef SONARA_LIBCOMMON_H
#define SONARA_LIBCOMMON_H

#include <stdbool.h>
#include <stddef.h>
#include <stdio.h>

#include "session_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Logging ---------------------------------------------------------------------------- */

enum LogLevel { LOG_DEBUG = 1, LOG_INFO = 2, LOG_NOTICE = 3, LOG_WARN = 4, LOG_ERROR = 5 };

/* Writes "<LEVEL> <basename of file>:<line>: <message>\n" when level >= the minimum level.
 * Thread-safe: one call writes one whole line. */
void log_log(int level, const char *file, int line, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
/* Minimum level to write, and target: a FILE* (null: standard error). Returns 0. */
int log_init(int level, void *target, int reserved1, int reserved2);

/* A text that came from outside (a configuration's member names, its version), made fit for one
 * log line: control characters (C0, DEL and C1) and bytes that are no UTF-8 are written as \n,
 * \r, \t, \xHH or \u00HH and a backslash as \\, so the text can't start a forged line; at most LOG_TEXT_LIMIT bytes of the
 * escaped form are kept, never splitting an escape or a UTF-8 character, and a text that was cut
 * ends with LOG_TEXT_CUT_MARK. Only as much of the text is read as is written. Returns
 * buffer->text; a null text gives "(null)". */
#define LOG_TEXT_LIMIT 200
#define LOG_TEXT_CUT_MARK "[cut]"
typedef struct LogText {
    char text[LOG_TEXT_LIMIT + sizeof(LOG_TEXT_CUT_MARK)];
} LogText;
const char *log_text(LogText *buffer, const char *text);

/* ---- Configuration ---------------------------------------------------------------------- */

typedef void (*configuration_number_callback)(void *user, const char *name, int i_value,
                                              double d_value, bool enable);
/* Answers -1 to refuse the entry (the whole configuration is then refused), 0 otherwise. */
typedef int (*configuration_range_callback)(void *user, const char *name, int i_min, double d_min,
                                            int i_max, double d_max, bool enable);
typedef void (*configuration_object_callback)(void *user, const char *name);
typedef void (*configuration_version_callback)(void *user, const char *version);
typedef void (*configuration_hash_callback)(void *user, const char *hash, size_t length);

/* One entry per kind; a null callback is not called. user comes back as every first argument. */
typedef struct ConfigurationCallbacks {
    configuration_number_callback number;
    configuration_range_callback range;
    configuration_object_callback object;
    configuration_version_callback version;
    configuration_hash_callback hash;
    void *user;
} ConfigurationCallbacks;

/* Reads a JSON configuration and reports its members in document order, then the SHA-256 of the
 * exact bytes read. false (with a level-5 log line) when the file can't be read or the text is
 * refused, among others when anything but whitespace follows the JSON value: a NUL byte too,
 * which only a file can hold, as text from memory ends at its first NUL. */
bool configuration_read_file(const char *path, const ConfigurationCallbacks *callbacks);
bool configuration_read_memory(const char *text, const ConfigurationCallbacks *callbacks);

/* ---- Files and paths -------------------------------------------------------------------- */

/* true when path names a directory (links followed); false for null or missing. */
bool is_directory(const char *path);
/* The current directory; the text belongs to libcommon and is never freed by the caller. */
const char *configuration_cwd(void);
/* Newly malloc'd "<cwd>/<name>" and "<dir>/<name>"; the caller frees them. */
char *by_cwd(const char *name);
char *by_dir(const char *dir, const char *name);
/* The whole file in newly malloc'd memory. false (data null, size 0) for a missing or
 * unreadable file or a directory; an empty file is read with size 0. */
bool read_file_content(const char *path, unsigned char **data, size_t *size);
/* Frees what read_file_content gave and nulls the pointer; a null pointer is ignored. */
void free_file_content(unsigned char **data);

/* ---- Run-time loading of the checking libraries ----------------------------------------- */

typedef bool (*session_create_fn)(Session *session, const char *path);
typedef bool (*session_create_with_log_fn)(Session *session, const char *path, int level,
                                           void *target);
typedef bool (*session_destroy_fn)(Session *session);
typedef bool (*session_check_fn)(Session *session, const unsigned char *content, size_t size);
typedef bool (*session_enable_property_fn)(Session *session, const char *name, bool enable);
typedef bool (*session_result_fn)(Session *session, SessionValue **out);
typedef char *(*session_text_fn)(Session *session);
typedef bool (*session_dbg_set_property_fn)(Session *session, const char *name,
                                            const char *value);

/* Twenty pointer-sized slots, filled by session_proxy_init. */
typedef struct SessionProxy {
    void *photo_library;                                  /*  1 dlopen handle */
    void *sound_library;                                  /*  2 dlopen handle */
    session_create_fn photo_create;                       /*  3 i_create_session */
    session_destroy_fn photo_destroy;                     /*  4 i_destroy_session */
    session_check_fn photo_check;                         /*  5 i_check */
    session_enable_property_fn photo_enable_property;     /*  6 i_enable_property */
    session_result_fn photo_result;                       /*  7 i_result_session */
    session_text_fn photo_configuration_version;          /*  8 i_session_configuration_version */
    session_text_fn photo_configuration_hash;             /*  9 i_session_configuration_hash */
    session_dbg_set_property_fn photo_dbg_set_property;   /* 10 i_dbg_set_property */
    session_create_fn sound_create;                       /* 11 v_create_session */
    session_destroy_fn sound_destroy;                     /* 12 v_destroy_session */
    session_check_fn sound_check;                         /* 13 v_check */
    session_result_fn sound_result;                       /* 14 v_result_session */
    session_text_fn sound_configuration_version;          /* 15 v_session_configuration_version */
    session_text_fn sound_configuration_hash;             /* 16 v_session_configuration_hash */
    session_enable_property_fn sound_enable_property;     /* 17 v_enable_property */
    session_dbg_set_property_fn sound_dbg_set_property;   /* 18 v_dbg_set_property */
    session_create_with_log_fn photo_create_with_log;     /* 19 i_create_session_with_log */
    session_create_with_log_fn sound_create_with_log;     /* 20 v_create_session_with_log */
} SessionProxy;

/* dlopens each non-null library path and fills the slots by name; a null path leaves that
 * library's slots null, a missing symbol its slot. false (dlerror logged) when a requested
 * library can't be loaded. */
bool session_proxy_init(SessionProxy *proxy, const char *photo_library, const char *sound_library);

/* ---- Printing --------------------------------------------------------------------------- */

/* "not evaluated", "passed", "failed", anything else "unknown". */
const char *state_name(int code);
/* Name of a Session.state code of either library ("STATE_OK", ...), "UNKNOWN" otherwise. */
const char *session_state_name(int code);
/* One line, without a trailing newline:
 * "state=<code> <NAME> config=<version> hash=<12 chars>; <slot>; <slot>; ..." */
void print_sound_result(FILE *stream, const char *version, const char *hash,
                        const Session *session, const SessionValue *first);
void print_photo_result(FILE *stream, const char *version, const char *hash,
                        const Session *session, const SessionValue *first);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* Logs with the calling source file and line. */
#define LOG(level, ...) log_log((level), __FILE__, __LINE__, __VA_ARGS__)

#endif /* SONARA_LIBCOMMON_H */
