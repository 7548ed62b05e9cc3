// The exported interface of libsonara: session lifecycle, getters, per-session switches and
// the check pipeline.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "libcommon.h"
#include "payload_analysis.h"
#include "private_session.h"
#include "session.h"
#include "sonara.h"
#include "sound.h"

namespace {

constexpr int32_t LIBRARY_MAJOR = 1;
constexpr int32_t LIBRARY_MINOR = 2;
constexpr int32_t LIBRARY_PATCH = 5;
constexpr char LIBRARY_VENDOR[] = "kestro";
constexpr char DIRECTORY_CONFIGURATION[] = "/cv_configuration.json";
constexpr char UNKNOWN_TEXT[] = "unknown";

constexpr char NULL_SESSION_MESSAGE[] = "Указатель на объект session указывает на null";

void write_version_block(Session *session) {
    session->major = LIBRARY_MAJOR;
    session->minor = LIBRARY_MINOR;
    session->patch = LIBRARY_PATCH;
    // Only the vendor text and its terminator; the rest of the field is left as it was.
    std::memcpy(session->vendor, LIBRARY_VENDOR, sizeof(LIBRARY_VENDOR));
}

// The text the reader gets: a directory stands for its cv_configuration.json. Null when out of
// memory; the caller frees the result.
char *configuration_source(const char *text, bool from_file) {
    if (from_file && is_directory(text)) {
        LOG(LOG_INFO, "Директория с конфигурациями %s", text);
        const size_t text_length = std::strlen(text);
        const size_t size = text_length + sizeof(DIRECTORY_CONFIGURATION);
        char *source = static_cast<char *>(std::malloc(size));
        if (source == nullptr) {
            return nullptr;
        }
        std::memcpy(source, text, text_length);
        std::memcpy(source + text_length, DIRECTORY_CONFIGURATION, sizeof(DIRECTORY_CONFIGURATION));
        return source;
    }
    return strdup(text);
}

char *unknown_copy() { return strdup(UNKNOWN_TEXT); }

}  // namespace

int check_valid_session(Session *session) {
    if (session == nullptr) {
        LOG(LOG_ERROR, "%s", NULL_SESSION_MESSAGE);
        return VOICE_SESSION_RECORD_NULL;
    }
    if (session->payment == nullptr) {
        LOG(LOG_ERROR, "Некорректная структура сессии, payment пустой");
        session->state = STATE_BAD_SESSION;
        return VOICE_SESSION_RECORD_DAMAGED;
    }
    if (session->payment->magic != PRIVATE_SESSION_MAGIC) {
        LOG(LOG_ERROR, "Некорректная структура сессии");
        session->state = STATE_BAD_SESSION;
        return VOICE_SESSION_RECORD_DAMAGED;
    }
    return VOICE_SESSION_OK;
}

int voice_session_init(Session *session, const char *text, bool from_file) {
    LOG(LOG_INFO, "Инициализация сессии по звуку");
    if (session == nullptr) {
        LOG(LOG_ERROR, "%s", NULL_SESSION_MESSAGE);
        return VOICE_SESSION_RECORD_NULL;
    }
    session->state = STATE_OK;
    if (text == nullptr) {
        LOG(LOG_ERROR, "Указатель на конфигурации указывает на null");
        session->state = STATE_BAD_CONFIGURATION;
        return VOICE_SESSION_CONFIGURATION_NULL;
    }
    if (text[0] == '\0') {
        LOG(LOG_ERROR, "Получено пустое название конфигураций");
        session->state = STATE_BAD_CONFIGURATION;
        return VOICE_SESSION_CONFIGURATION_EMPTY;
    }
    write_version_block(session);

    char *source = configuration_source(text, from_file);
    PrivateSession *payment = source != nullptr ? new (std::nothrow) PrivateSession() : nullptr;
    if (payment == nullptr) {
        LOG(LOG_ERROR, "Недостаточно памяти для создания сессии");
        std::free(source);
        session->state = STATE_BAD_CONFIGURATION;
        return VOICE_SESSION_CONFIGURATION_NOT_READ;
    }

    const bool loaded = payment->read_configuration(source, from_file);
    std::free(source);
    if (!loaded) {
        delete payment;
        session->state = STATE_BAD_CONFIGURATION;
        return VOICE_SESSION_CONFIGURATION_NOT_READ;
    }
    session->payment = payment;
    payment->init_result();
    return VOICE_SESSION_OK;
}

extern "C" {

int voice_session_init(Session *session, const char *path) {
    return voice_session_init(session, path, true);
}

int voice_session_init_from_memory(Session *session, const char *text) {
    return voice_session_init(session, text, false);
}

bool v_create_session(Session *session, const char *path) {
    return voice_session_init(session, path) == VOICE_SESSION_OK;
}

bool v_create_session_from_memory(Session *session, const char *text) {
    return voice_session_init_from_memory(session, text) == VOICE_SESSION_OK;
}

bool v_create_session_with_log(Session *session, const char *path, int log_level, void *log_target) {
    (void)log_init(log_level, log_target, 0, 0);
    return v_create_session(session, path);
}

char *v_session_configuration_version(Session *session) {
    if (check_valid_session(session) != VOICE_SESSION_OK) {
        return unknown_copy();
    }
    return session->payment->version;
}

char *v_session_configuration_hash(Session *session) {
    if (check_valid_session(session) != VOICE_SESSION_OK) {
        return unknown_copy();
    }
    return session->payment->hash;
}

bool v_result_session(Session *session, SessionValue **out) {
    if (check_valid_session(session) != VOICE_SESSION_OK) {
        return false;
    }
    if (out != nullptr) {
        *out = &session->payment->results[SLOT_LENGTH];
    }
    return true;
}

int voice_session_destroy(Session *session) {
    LOG(LOG_INFO, "Уничтожение сессии по звуку");
    const int code = check_valid_session(session);
    if (code != VOICE_SESSION_OK) {
        return code;
    }
    session->state = STATE_OK;
    LOG(LOG_INFO, "Освобождение payment");
    delete session->payment;
    session->payment = nullptr;
    std::memset(session, 0, SESSION_VERSION_BLOCK_SIZE);
    return VOICE_SESSION_OK;
}

bool v_destroy_session(Session *session) {
    return voice_session_destroy(session) == VOICE_SESSION_OK;
}

bool v_enable_property(Session *session, const char *name, bool enable) {
    if (check_valid_session(session) != VOICE_SESSION_OK) {
        return false;
    }
    session->state = STATE_OK;
    if (name == nullptr) {
        return false;
    }
    PrivateSession &payment = *session->payment;
    // Matched in this order, whole text, case-sensitively.
    bool *const flags[] = {
        &payment.signal_noise.enable,     &payment.duration.enable,
        &payment.voice_duration.enable,   &payment.sample_rate.enable,
        &payment.channels.enable,         &payment.length.enable,
        &payment.depth.enable,            &payment.telephony_border.enable,
        &payment.overload_border.enable,
    };
    static constexpr const char *names[] = {
        "signal_noise", "duration", "voice_duration",   "sample_rate",     "channels",
        "length",       "depth",    "telephony_border", "overload_border",
    };
    static_assert(std::size(names) == std::size(flags));
    for (size_t i = 0; i < std::size(names); ++i) {
        if (std::strcmp(name, names[i]) == 0) {
            *flags[i] = enable;
            return true;
        }
    }
    return false;
}

bool v_dbg_set_property(Session *session, const char *name, const char *value) {
    if (check_valid_session(session) != VOICE_SESSION_OK) {
        return false;
    }
    session->state = STATE_OK;
    if (name == nullptr || value == nullptr || std::strcmp(name, "processing_sound_name") != 0) {
        return false;
    }
    char *copy = strdup(value);
    if (copy == nullptr) {
        return false;  // out of memory: the previous name stays
    }
    PrivateSession &payment = *session->payment;
    std::free(payment.processing_sound_name);
    payment.processing_sound_name = copy;
    return true;
}

}  // extern "C"

// ---- The check pipeline ---------------------------------------------------------------------

namespace {

constexpr double KIB_PER_BYTE = 0.0009765625;  // exactly 1/1024

// Length and the header-level values, in order; the state code of the first failure, or 0.
// Fills head on success.
int32_t check_container(PrivateSession &payment, const unsigned char *content, size_t size,
                        Head &head) {
    if (!payment.try_set_length_result(static_cast<double>(size) * KIB_PER_BYTE)) {
        return STATE_LENGTH_FAILED;
    }
    if (!read_head(content, size, &head)) {
        return STATE_HEAD_FAILED;
    }
    head.name = payment.processing_sound_name;
    if (!payment.try_set_duration_result(head.duration)) {
        return STATE_DURATION_FAILED;
    }
    if (!payment.try_set_depth_result(static_cast<double>(head.bits_per_sample))) {
        return STATE_DEPTH_FAILED;
    }
    if (!payment.try_set_channels_result(static_cast<double>(head.channels))) {
        return STATE_CHANNELS_FAILED;
    }
    if (!payment.try_set_sample_rate_result(static_cast<double>(head.sample_rate))) {
        return STATE_SAMPLE_RATE_FAILED;
    }
    return STATE_OK;
}

// The measurements the session's switches ask for, so the check's walk over the payload makes
// all of their passes at once.
unsigned planned_measurements(const PrivateSession &payment) {
    unsigned planned = 0;
    if (payment.telephony_border.enable) planned |= PayloadAnalysis::telephony;
    if (payment.overload_border.enable) planned |= PayloadAnalysis::overload;
    if (payment.signal_noise.enable) {
        planned |= PayloadAnalysis::signal_noise | PayloadAnalysis::voice_duration;
    }
    return planned;
}

// The enabled measurements of a decodable recording; the state code that ends the check, or 0.
// The two borders stop at their failure; signal-to-noise and voice duration are both judged,
// and a voice-duration failure outranks a signal-to-noise one.
int32_t measure(PrivateSession &payment, const Head &head, PayloadAnalysis &analysis) {
    if (payment.telephony_border.enable &&
        !payment.try_set_telephony_border_result(analysis.telephony_border())) {
        return STATE_TELEPHONY_BORDER_FAILED;
    }
    if (payment.overload_border.enable &&
        !payment.try_set_overload_border_result(analysis.overloading_value())) {
        return STATE_OVERLOAD_BORDER_FAILED;
    }
    if (!payment.signal_noise.enable) {
        return STATE_OK;
    }
    // A header's channel count is 16-bit, so it always fits.
    const int count = static_cast<int>(head.channels);
    std::unique_ptr<double[]> values(analysis.signal_noise_values());
    if (values == nullptr && count > 0) {
        return STATE_UNPACK_FAILED;  // its working memory could not be allocated
    }
    int32_t state = STATE_OK;
    if (!payment.try_set_signal_noise_results(values.get(), count)) {
        state = STATE_SIGNAL_NOISE_FAILED;
    }
    values.reset();
    if (!payment.try_set_voice_duration_result(analysis.filtered_duration())) {
        state = STATE_VOICE_DURATION_FAILED;
    }
    return state;
}

// Everything after the argument test; the state code the check ends with.
int32_t run_check(PrivateSession &payment, const unsigned char *content, size_t size) {
    payment.init_result();
    Head head{};
    const int32_t container_state = check_container(payment, content, size, head);
    if (container_state != STATE_OK) {
        return container_state;
    }
    // Refuses what decoding refuses; the payload is then read in place, never decoded whole.
    PayloadAnalysis analysis(head, planned_measurements(payment));
    if (!analysis.ready()) {
        return STATE_UNPACK_FAILED;
    }
    return measure(payment, head, analysis);
}

}  // namespace

extern "C" {

bool v_check(Session *session, const unsigned char *content, size_t size) {
    if (check_valid_session(session) != VOICE_SESSION_OK) {
        return false;
    }
    if (content == nullptr || size == 0) {
        LOG(LOG_WARN, "[library] Content failed");
        session->state = STATE_CONTENT_FAILED;
        return false;
    }
    session->state = STATE_OK;
    int32_t state = STATE_UNPACK_FAILED;
    try {
        state = run_check(*session->payment, content, size);
    } catch (...) {
        // Out of memory inside a measurement: the check cannot finish; nothing leaves the library.
    }
    session->state = state;
    return state == STATE_OK;
}

}  // extern "C"
