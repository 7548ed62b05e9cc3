// libvisara: photo sessions over the shared Session record. A session reads its limits from a
// JSON configuration ("length" in KiB, "width" and "height" in pixels, each an optional range)
// and judges each picture's length, width and height into a chain of three result slots.
#include "visara.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "libcommon.h"
#include "payment_layout.h"
#include "picture.h"
#include "sonara_version.h"

namespace {

constexpr int32_t version_major = SONARA_VERSION_MAJOR;
constexpr int32_t version_minor = SONARA_VERSION_MINOR;
constexpr int32_t version_patch = SONARA_VERSION_PATCH;
constexpr char vendor_name[] = SONARA_VENDOR;
constexpr char configuration_file_name[] = "/ci_configuration.json";
constexpr char processing_image_property[] = "processing_image_name";
constexpr double bytes_to_kib = 1.0 / 1024.0;

// One configured limit; a range missing from the configuration is never judged.
struct PhotoRange {
    int min = 0;
    int max = 0;
    bool enable = false;
    bool configured = false;

    bool judged() const { return configured && enable; }
};

enum ResultSlot { slot_length, slot_width, slot_height, slot_count };
constexpr const char *slot_names[slot_count] = {"length", "width", "height"};

struct PhotoSession {
    PhotoRange ranges[slot_count];
    char *version = nullptr;
    char *hash = nullptr;
    char *processing_image_name = nullptr;
    SessionValue results[slot_count] = {};

    ~PhotoSession() {
        std::free(version);
        std::free(hash);
        std::free(processing_image_name);
    }

    void init_result() {
        for (int i = 0; i < slot_count; ++i) {
            results[i] = {};
            results[i].name = slot_names[i];
            results[i].enable = ranges[i].judged();
            results[i].next = i + 1 < slot_count ? &results[i + 1] : nullptr;
        }
    }

    // Stores the value; a range that is off or missing passes whatever the value.
    bool judge(ResultSlot slot, double value) {
        const PhotoRange &range = ranges[slot];
        bool passed = !range.judged() || (range.min <= value && value <= range.max);
        results[slot].value = value;
        results[slot].state = passed ? SESSION_VALUE_PASSED : SESSION_VALUE_FAILED;
        if (!passed)
            LOG(LOG_WARN, "Picture %s %g is outside [%d, %d]", slot_names[slot], value, range.min,
                range.max);
        return passed;
    }
};

// What hangs on Session.payment: the session, then its magic at the offset where libsonara
// keeps its own (payment_layout.h). Either library handed the other's record then reads the
// other's magic, inside the other's object, and refuses it.
struct PhotoPayment {
    PhotoSession session;
    unsigned char reserved[PAYMENT_MAGIC_OFFSET - sizeof(PhotoSession)] = {};
    uint32_t magic = PHOTO_PAYMENT_MAGIC;

    ~PhotoPayment() { magic = 0; }
};
static_assert(sizeof(PhotoSession) < PAYMENT_MAGIC_OFFSET, "the photo session outgrew its place");
static_assert(offsetof(PhotoPayment, magic) == PAYMENT_MAGIC_OFFSET);
static_assert(sizeof(PhotoPayment) >= PAYMENT_MAGIC_OFFSET + sizeof(uint32_t));
static_assert(PHOTO_PAYMENT_MAGIC != SOUND_PAYMENT_MAGIC);

PhotoPayment *payment_of(Session *session) {
    return reinterpret_cast<PhotoPayment *>(session->payment);
}

PhotoSession *photo_of(Session *session) { return &payment_of(session)->session; }

int slot_by_name(const char *name) {
    if (name == nullptr) return -1;
    for (int i = 0; i < slot_count; ++i)
        if (std::strcmp(name, slot_names[i]) == 0) return i;
    return -1;
}

bool replace_text(char **target, const char *text) {
    char *copy = strdup(text);
    if (copy == nullptr) return false;
    std::free(*target);
    *target = copy;
    return true;
}

// Configuration callbacks: user is the PhotoSession being created. A copy that can't be made
// marks the whole reading as failed through `out_of_memory`.
struct Reading {
    PhotoSession *photo;
    bool out_of_memory;
};

int read_range(void *user, const char *name, int i_min, double d_min, int i_max, double d_max,
               bool enable) {
    // A reversed range is refused whatever its name, and with it the configuration, as the
    // sound library does; a disabled one is never judged and loads as given.
    if (enable && (i_min > i_max || static_cast<float>(d_min) > static_cast<float>(d_max))) {
        LogText safe_name;  // the name comes from the configuration text
        LOG(LOG_ERROR, "Wrong configuration '%s' : minimum value greater than maximum",
            log_text(&safe_name, name != nullptr ? name : ""));
        LOG(LOG_DEBUG, "i_min %d, d_min %lf, i_max %d, d_max %lf, enable %d", i_min, d_min, i_max,
            d_max, 1);
        return -1;
    }
    auto *reading = static_cast<Reading *>(user);
    int slot = slot_by_name(name);
    if (slot >= 0) reading->photo->ranges[slot] = {i_min, i_max, enable, true};
    return 0;
}

void read_version(void *user, const char *version) {
    auto *reading = static_cast<Reading *>(user);
    if (!replace_text(&reading->photo->version, version)) reading->out_of_memory = true;
}

void read_hash(void *user, const char *hash, size_t) {
    auto *reading = static_cast<Reading *>(user);
    if (!replace_text(&reading->photo->hash, hash)) reading->out_of_memory = true;
}

bool read_configuration(PhotoSession *photo, const char *source) {
    if (!replace_text(&photo->version, "unknown") || !replace_text(&photo->hash, "")) return false;
    Reading reading{photo, false};
    ConfigurationCallbacks callbacks{nullptr,      read_range, nullptr,
                                     read_version, read_hash,  &reading};
    if (!configuration_read_file(source, &callbacks)) return false;
    if (reading.out_of_memory) {
        LOG(LOG_ERROR, "Out of memory while reading the photo configuration");
        return false;
    }
    return true;
}

// Newly malloc'd configuration file path: the path itself, or its ci_configuration.json when
// the path names a directory.
char *configuration_source(const char *path) {
    if (!is_directory(path)) return strdup(path);
    LOG(LOG_INFO, "Photo configuration directory %s", path);
    size_t length = std::strlen(path);
    auto *source = static_cast<char *>(std::malloc(length + sizeof(configuration_file_name)));
    if (source == nullptr) return nullptr;
    std::memcpy(source, path, length);
    std::memcpy(source + length, configuration_file_name, sizeof(configuration_file_name));
    return source;
}

bool check_valid_session(Session *session) {
    if (session == nullptr) {
        LOG(LOG_ERROR, "Photo session pointer is null");
        return false;
    }
    if (session->payment == nullptr) {
        LOG(LOG_ERROR, "Photo session is not created: payment is null");
        session->state = STATE_BAD_SESSION;
        return false;
    }
    uint32_t magic = 0;
    std::memcpy(&magic, reinterpret_cast<const unsigned char *>(session->payment) + PAYMENT_MAGIC_OFFSET,
                sizeof(magic));
    if (magic != PHOTO_PAYMENT_MAGIC) {
        LOG(LOG_ERROR, "Photo session is damaged");
        session->state = STATE_BAD_SESSION;
        return false;
    }
    return true;
}

char *session_text(Session *session, char *PhotoSession::*field) {
    if (!check_valid_session(session)) return strdup("unknown");
    return photo_of(session)->*field;
}

} // namespace

extern "C" {

bool i_create_session(Session *session, const char *path) {
    LOG(LOG_INFO, "Photo session init");
    if (session == nullptr) {
        LOG(LOG_ERROR, "Photo session pointer is null");
        return false;
    }
    session->state = STATE_OK;
    if (path == nullptr || path[0] == '\0') {
        LOG(LOG_ERROR, "Photo configuration path is null or empty");
        session->state = STATE_BAD_CONFIGURATION;
        return false;
    }
    session->major = version_major;
    session->minor = version_minor;
    session->patch = version_patch;
    std::memcpy(session->vendor, vendor_name, sizeof(vendor_name));

    char *source = configuration_source(path);
    auto *payment = source != nullptr ? new (std::nothrow) PhotoPayment : nullptr;
    bool read = payment != nullptr && read_configuration(&payment->session, source);
    std::free(source);
    if (!read) {
        if (payment == nullptr) LOG(LOG_ERROR, "Out of memory while creating a photo session");
        delete payment;
        session->state = STATE_BAD_CONFIGURATION;
        return false;
    }
    payment->session.init_result();
    session->payment = reinterpret_cast<PrivateSession *>(payment);
    return true;
}

bool i_create_session_with_log(Session *session, const char *path, int log_level,
                               void *log_target) {
    log_init(log_level, log_target, 0, 0);
    return i_create_session(session, path);
}

bool i_destroy_session(Session *session) {
    LOG(LOG_INFO, "Photo session destroy");
    if (!check_valid_session(session)) return false;
    session->state = STATE_OK;
    delete payment_of(session);
    session->payment = nullptr;
    std::memset(session, 0, SESSION_VERSION_BLOCK_SIZE);
    return true;
}

bool i_check(Session *session, const unsigned char *content, size_t size) {
    if (!check_valid_session(session)) return false;
    session->state = STATE_OK;
    if (content == nullptr || size == 0) {
        LOG(LOG_WARN, "Picture content is null or empty");
        session->state = STATE_CONTENT_FAILED;
        return false;
    }
    PhotoSession *photo = photo_of(session);
    photo->init_result();
    if (!photo->judge(slot_length, double(size) * bytes_to_kib)) {
        session->state = STATE_LENGTH_FAILED;
        return false;
    }
    PictureSize picture;
    if (!read_picture_size(content, size, &picture)) {
        LOG(LOG_WARN, "Picture is neither a PNG nor a JPEG, or its header is truncated");
        session->state = STATE_HEAD_FAILED;
        return false;
    }
    if (!photo->judge(slot_width, picture.width)) {
        session->state = STATE_WIDTH_FAILED;
        return false;
    }
    if (!photo->judge(slot_height, picture.height)) {
        session->state = STATE_HEIGHT_FAILED;
        return false;
    }
    return true;
}

bool i_result_session(Session *session, SessionValue **out) {
    if (!check_valid_session(session)) return false;
    if (out != nullptr) *out = &photo_of(session)->results[0];
    return true;
}

char *i_session_configuration_version(Session *session) {
    return session_text(session, &PhotoSession::version);
}

char *i_session_configuration_hash(Session *session) {
    return session_text(session, &PhotoSession::hash);
}

bool i_enable_property(Session *session, const char *name, bool enable) {
    if (!check_valid_session(session)) return false;
    session->state = STATE_OK;
    int slot = slot_by_name(name);
    if (slot < 0) return false;
    photo_of(session)->ranges[slot].enable = enable;
    return true;
}

// Only the processing image name is known; it is kept for diagnostics, no file is written.
bool i_dbg_set_property(Session *session, const char *name, const char *value) {
    if (!check_valid_session(session)) return false;
    session->state = STATE_OK;
    if (name == nullptr || value == nullptr || std::strcmp(name, processing_image_property) != 0)
        return false;
    return replace_text(&photo_of(session)->processing_image_name, value);
}

} // extern "C"
