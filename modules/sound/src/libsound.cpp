// The exported interface of libsonara: session lifecycle, getters, per-session switches and
// the check pipeline.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "check_pipeline.h"
#include "libcommon.h"
#include "payload_analysis.h"
#include "private_session.h"
#include "session.h"
#include "sonara.h"
#include "sonara_version.h"
#include "sound.h"

namespace {

constexpr int32_t LIBRARY_MAJOR = SONARA_VERSION_MAJOR;
constexpr int32_t LIBRARY_MINOR = SONARA_VERSION_MINOR;
constexpr int32_t LIBRARY_PATCH = SONARA_VERSION_PATCH;
constexpr char LIBRARY_VENDOR[] = SONARA_VENDOR;
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

bool v_set_details(Session *session, unsigned flags) {
    if (check_valid_session(session) != VOICE_SESSION_OK) {
        return false;
    }
    session->state = STATE_OK;
    return session->payment->details.set_flags(flags);
}

bool v_details_session(Session *session, const SonaraDetails **out) {
    if (out != nullptr) {
        *out = nullptr;
    }
    if (check_valid_session(session) != VOICE_SESSION_OK) {
        return false;
    }
    const SonaraDetails *details = session->payment->details.answer();
    if (out != nullptr) {
        *out = details;
    }
    return details != nullptr;
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

// How far one check goes. v_check stops at the first failing step and measures only what the
// switches enable; v_check_all obtains every value it can and judges each as configured. Both
// end with the same state: the code of the first failing step in pipeline order.
class Verdict {
public:
    explicit Verdict(bool stops_at_failure) : stops_at_failure_(stops_at_failure) {}

    // Records a step's outcome; true while the check goes on after it.
    bool step(bool passed, int32_t failure_code) {
        if (!passed && state_ == STATE_OK) {
            state_ = failure_code;
        }
        return passed || !stops_at_failure_;
    }
    // Whether a measurement runs: always when every value is wanted, else when switched on.
    bool measures(bool enabled) const { return enabled || !stops_at_failure_; }
    int32_t state() const { return state_; }

private:
    bool stops_at_failure_;
    int32_t state_ = STATE_OK;
};

// Length and the header-level values, in order. false when the check ends here; head is filled
// once read_head has succeeded.
bool check_container(PrivateSession &payment, uint64_t size, CheckedFile &file, Head &head,
                     Verdict &verdict) {
    if (!verdict.step(payment.try_set_length_result(static_cast<double>(size) * KIB_PER_BYTE),
                      STATE_LENGTH_FAILED)) {
        return false;
    }
    if (!file.read_head(&head)) {
        verdict.step(false, STATE_HEAD_FAILED);
        return false;
    }
    head.name = payment.processing_sound_name;
    return verdict.step(payment.try_set_duration_result(head.duration), STATE_DURATION_FAILED) &&
           verdict.step(payment.try_set_depth_result(static_cast<double>(head.bits_per_sample)),
                        STATE_DEPTH_FAILED) &&
           verdict.step(payment.try_set_channels_result(static_cast<double>(head.channels)),
                        STATE_CHANNELS_FAILED) &&
           verdict.step(payment.try_set_sample_rate_result(static_cast<double>(head.sample_rate)),
                        STATE_SAMPLE_RATE_FAILED);
}

// The measurements the check obtains, so its walk over the payload makes all of their passes
// at once: those the session's switches ask for, or every one when nothing stops the check.
unsigned planned_measurements(const PrivateSession &payment, const Verdict &verdict) {
    unsigned planned = 0;
    if (verdict.measures(payment.telephony_border.enable)) planned |= PayloadAnalysis::telephony;
    if (verdict.measures(payment.overload_border.enable)) planned |= PayloadAnalysis::overload;
    if (verdict.measures(payment.signal_noise.enable)) {
        planned |= PayloadAnalysis::signal_noise | PayloadAnalysis::voice_duration;
    }
    return planned;
}

// The measurements of a decodable recording, each judged as it is obtained. The two borders end
// a stopping check at their failure; signal-to-noise and voice duration are both judged, and a
// voice-duration failure outranks a signal-to-noise one.
void measure(PrivateSession &payment, const Head &head, PayloadAnalysis &analysis,
             Verdict &verdict) {
    if (verdict.measures(payment.telephony_border.enable) &&
        !verdict.step(payment.try_set_telephony_border_result(analysis.telephony_border()),
                      STATE_TELEPHONY_BORDER_FAILED)) {
        return;
    }
    if (verdict.measures(payment.overload_border.enable) &&
        !verdict.step(payment.try_set_overload_border_result(analysis.overloading_value()),
                      STATE_OVERLOAD_BORDER_FAILED)) {
        return;
    }
    if (!verdict.measures(payment.signal_noise.enable)) {
        return;
    }
    // A header's channel count is 16-bit, so it always fits.
    const int count = static_cast<int>(head.channels);
    std::unique_ptr<double[]> values(analysis.signal_noise_values());
    if (values == nullptr && count > 0) {
        verdict.step(false, STATE_UNPACK_FAILED);  // its working memory could not be allocated
        return;
    }
    int32_t last = STATE_OK;
    if (!payment.record_signal_noise_results(values.get(), count)) {
        last = STATE_SIGNAL_NOISE_FAILED;
    }
    values.reset();
    // The voice duration is judged under the signal_noise switch, as v_check only measures it
    // there; with that switch off it is recorded and passes.
    const double voice_duration = analysis.filtered_duration();
    const bool voice_passed = payment.signal_noise.enable
                                  ? payment.try_set_voice_duration_result(voice_duration)
                                  : payment.record_voice_duration_result(voice_duration);
    if (!voice_passed) {
        last = STATE_VOICE_DURATION_FAILED;
    }
    verdict.step(last == STATE_OK, last);
}

// A file held whole in memory.
class ContentFile final : public CheckedFile {
public:
    ContentFile(const unsigned char *content, size_t size) : content_(content), size_(size) {}
    bool read_head(Head *head) override { return ::read_head(content_, size_, head); }
    PayloadSource *payload() override { return nullptr; }

private:
    const unsigned char *content_;
    size_t size_;
};

// Everything after the argument test; the state code the check ends with. Exceptions (exhausted
// memory) pass through.
int32_t run_check(PrivateSession &payment, uint64_t size, CheckedFile &file, bool stops_at_failure) {
    payment.init_result();
    Verdict verdict(stops_at_failure);
    Head head{};
    if (!check_container(payment, size, file, head, verdict)) {
        return verdict.state();
    }
    // Refuses what decoding refuses; the payload is then read in place, never decoded whole.
    PayloadAnalysis analysis(head, planned_measurements(payment, verdict), file.payload());
    if (!analysis.ready()) {
        verdict.step(false, STATE_UNPACK_FAILED);
        return verdict.state();
    }
    CheckDetails &details = payment.details;
    const bool detailed = details.prepare(head.channels);
    if (detailed) analysis.keep_evidence(details.evidence(), details.segments());
    measure(payment, head, analysis, verdict);
    if (detailed) {
        analysis.complete_evidence();
        details.finish(analysis);
    }
    return verdict.state();
}

}  // namespace

bool check_file(Session *session, bool has_content, uint64_t size, CheckedFile &file,
                bool stops_at_failure) {
    if (check_valid_session(session) != VOICE_SESSION_OK) {
        return false;
    }
    // Even a check refused at once leaves no details of the previous file behind.
    session->payment->details.start_check();
    if (!has_content || size == 0) {
        LOG(LOG_WARN, "[library] Content failed");
        session->state = STATE_CONTENT_FAILED;
        return false;
    }
    session->state = STATE_OK;
    int32_t state = STATE_UNPACK_FAILED;
    try {
        state = run_check(*session->payment, size, file, stops_at_failure);
    } catch (...) {
        // Out of memory inside a measurement: the check cannot finish; nothing leaves the library.
        session->payment->details.abandon();
    }
    session->state = state;
    return state == STATE_OK;
}

extern "C" {

bool v_check(Session *session, const unsigned char *content, size_t size) {
    ContentFile file(content, size);
    return check_file(session, content != nullptr, size, file, true);
}

bool v_check_all(Session *session, const unsigned char *content, size_t size) {
    ContentFile file(content, size);
    return check_file(session, content != nullptr, size, file, false);
}

}  // extern "C"
