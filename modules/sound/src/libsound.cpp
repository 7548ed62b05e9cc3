// The exported interface of libsonara: session lifecycle, getters and per-session switches.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "libcommon.h"
#include "private_session.h"
#include "session.h"
#include "sonara.h"

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
