// Result printing and state names.
#include <cstdio>

#include "libcommon.h"

namespace {

// Guards against a damaged chain that loops back on itself; a real chain has a handful of slots.
constexpr int kMaxPrintedSlots = 1024;

const char *or_unknown(const char *text) { return text != nullptr ? text : "unknown"; }

void print_result(FILE *stream, const char *version, const char *hash, const Session *session,
                  const SessionValue *first) {
    if (stream == nullptr) return;
    flockfile(stream);  // keep the line whole when several threads share the stream
    if (session != nullptr) {
        std::fprintf(stream, "state=%d %s", session->state, session_state_name(session->state));
    } else {
        std::fputs("state=?", stream);
    }
    std::fprintf(stream, " config=%s hash=%.12s", or_unknown(version), or_unknown(hash));
    if (first == nullptr) {
        std::fputs("; no results", stream);
    }
    int printed = 0;
    for (const SessionValue *slot = first; slot != nullptr; slot = slot->next) {
        if (printed++ == kMaxPrintedSlots) {
            std::fputs("; ...", stream);
            break;
        }
        std::fprintf(stream, "; %s=%g %s", or_unknown(slot->name), slot->value, state_name(slot->state));
        if (!slot->enable) std::fputs(" (off)", stream);
        if (slot->text != nullptr) std::fprintf(stream, " [%s]", slot->text);
    }
    funlockfile(stream);
}

}  // namespace

extern "C" const char *state_name(int code) {
    switch (code) {
    case SESSION_VALUE_NOT_EVALUATED: return "not evaluated";
    case SESSION_VALUE_PASSED: return "passed";
    case SESSION_VALUE_FAILED: return "failed";
    default: return "unknown";
    }
}

extern "C" const char *session_state_name(int code) {
    switch (code) {
    case STATE_OK: return "STATE_OK";
    case STATE_BAD_SESSION: return "STATE_BAD_SESSION";
    case STATE_BAD_CONFIGURATION: return "STATE_BAD_CONFIGURATION";
    case STATE_CONTENT_FAILED: return "STATE_CONTENT_FAILED";
    case STATE_HEAD_FAILED: return "STATE_HEAD_FAILED";
    case STATE_UNPACK_FAILED: return "STATE_UNPACK_FAILED";
    case STATE_SIGNAL_NOISE_FAILED: return "STATE_SIGNAL_NOISE_FAILED";
    case STATE_CHANNELS_FAILED: return "STATE_CHANNELS_FAILED";
    case STATE_SAMPLE_RATE_FAILED: return "STATE_SAMPLE_RATE_FAILED";
    case STATE_DEPTH_FAILED: return "STATE_DEPTH_FAILED";
    case STATE_LENGTH_FAILED: return "STATE_LENGTH_FAILED";
    case STATE_DURATION_FAILED: return "STATE_DURATION_FAILED";
    case STATE_TELEPHONY_BORDER_FAILED: return "STATE_TELEPHONY_BORDER_FAILED";
    case STATE_OVERLOAD_BORDER_FAILED: return "STATE_OVERLOAD_BORDER_FAILED";
    case STATE_VOICE_DURATION_FAILED: return "STATE_VOICE_DURATION_FAILED";
    case STATE_WIDTH_FAILED: return "STATE_WIDTH_FAILED";
    case STATE_HEIGHT_FAILED: return "STATE_HEIGHT_FAILED";
    default: return "UNKNOWN";
    }
}

extern "C" void print_sound_result(FILE *stream, const char *version, const char *hash,
                                   const Session *session, const SessionValue *first) {
    print_result(stream, version, hash, session, first);
}

extern "C" void print_photo_result(FILE *stream, const char *version, const char *hash,
                                   const Session *session, const SessionValue *first) {
    print_result(stream, version, hash, session, first);
}
