/*
 * The records shared by libsonara, libvisara, libcommon and their callers: the caller-owned
 * Session, the result slot SessionValue and the status codes left in Session.state.
 * Plain C (C99 and C++20); the layout is part of the binary interface and must not change.
 */
#ifndef SONARA_SESSION_TYPES_H
#define SONARA_SESSION_TYPES_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct PrivateSession;

/* Owned by the caller, zero-filled before the first creation. 304 bytes, 8-byte aligned. */
typedef struct Session {
    int32_t major;                   /* library version while a session lives */
    int32_t minor;
    int32_t patch;
    char vendor[256];                /* NUL-terminated vendor text */
    char reserved_version[12];       /* never read nor written by the libraries */
    struct PrivateSession *payment;  /* the library's private object, null when none lives here */
    int32_t state;                   /* status code of the last operation that set one */
    char reserved_tail[12];
} Session;

/* Size of the version block (major, minor, patch, vendor) that destruction clears. */
#define SESSION_VERSION_BLOCK_SIZE 268

/* One result slot. Owned by the library that hands it out; callers only read it. */
typedef struct SessionValue {
    const char *name;          /* property name, a constant text */
    bool enable;               /* copy of the check's enable flag at the last reset */
    int32_t state;             /* 0 not evaluated, 1 passed, 2 failed */
    double value;              /* value measured by the last check */
    char *text;                /* extra text (per-channel values) or null */
    struct SessionValue *next; /* next slot in reporting order, null after the last */
} SessionValue;

enum SessionValueState {
    SESSION_VALUE_NOT_EVALUATED = 0,
    SESSION_VALUE_PASSED = 1,
    SESSION_VALUE_FAILED = 2
};

/* Every value ever stored in Session.state. */
enum SessionState {
    STATE_OK = 0,
    STATE_BAD_SESSION = 101,
    STATE_BAD_CONFIGURATION = 102,
    STATE_CONTENT_FAILED = 103,
    STATE_HEAD_FAILED = 104,
    STATE_UNPACK_FAILED = 105,
    STATE_SIGNAL_NOISE_FAILED = 106,
    STATE_CHANNELS_FAILED = 107,
    STATE_SAMPLE_RATE_FAILED = 108,
    STATE_DEPTH_FAILED = 109,
    STATE_LENGTH_FAILED = 110,
    STATE_DURATION_FAILED = 111,
    STATE_TELEPHONY_BORDER_FAILED = 112,
    STATE_OVERLOAD_BORDER_FAILED = 113,
    STATE_VOICE_DURATION_FAILED = 114
};

/* The photo library's own codes, beside the shared 0, 101-104 and 110; declared here so the
   common layer names every code without including a product's header. */
enum PhotoState {
    STATE_WIDTH_FAILED = 120,
    STATE_HEIGHT_FAILED = 121
};

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(Session) == 304, "Session is 304 bytes");
static_assert(alignof(Session) == 8, "Session is 8-byte aligned");
static_assert(offsetof(Session, major) == 0);
static_assert(offsetof(Session, minor) == 4);
static_assert(offsetof(Session, patch) == 8);
static_assert(offsetof(Session, vendor) == 12);
static_assert(offsetof(Session, reserved_version) == 268);
static_assert(offsetof(Session, payment) == 280);
static_assert(offsetof(Session, state) == 288);
static_assert(offsetof(Session, reserved_tail) == 292);
static_assert(offsetof(Session, payment) == SESSION_VERSION_BLOCK_SIZE + 12);
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(Session) == 304, "Session is 304 bytes");
_Static_assert(offsetof(Session, payment) == 280, "payment at 280");
_Static_assert(offsetof(Session, state) == 288, "state at 288");
#endif

#endif /* SONARA_SESSION_TYPES_H */
