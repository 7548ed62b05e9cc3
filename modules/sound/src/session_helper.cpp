// Loading a session's configuration through libcommon's reader, and the reset of the result block.
#include <cstdlib>
#include <cstring>

#include "libcommon.h"
#include "private_session.h"

namespace {

constexpr char UNKNOWN_VERSION[] = "unknown";

bool same_name(const char *name, const char *property) {
    return name != nullptr && std::strcmp(name, property) == 0;
}

}  // namespace

// The reader calls back once per entry; user is the PrivateSession being filled.
static void read_number(void *user, const char *name, int i_value, double d_value, bool enable) {
    static_cast<PrivateSession *>(user)->set_number(name, i_value, d_value, enable);
}

static int read_range(void *user, const char *name, int i_min, double d_min, int i_max,
                      double d_max, bool enable) {
    return static_cast<PrivateSession *>(user)->set_range(name, i_min, d_min, i_max, d_max,
                                                          enable);
}

static void read_version(void *user, const char *version) {
    static_cast<PrivateSession *>(user)->set_version(version);
}

static void configuration_hash(void *user, const char *hash, size_t length) {
    static_cast<PrivateSession *>(user)->set_configuration_hash(hash, length);
}

bool PrivateSession::read_configuration(const char *source, bool from_file) {
    magic = PRIVATE_SESSION_MAGIC;

    signal_noise = {};
    duration = {};
    sample_rate = {};
    channels = {};
    depth = {};
    length = {};
    telephony_border = {};
    overload_border = {};
    voice_duration = {};
    processing_sound_name = nullptr;
    signal_noise_text = nullptr;  // before init_result first releases it
    for (SessionValue &slot : results) {
        slot = {};
    }

    std::memcpy(version, UNKNOWN_VERSION, sizeof(UNKNOWN_VERSION));
    std::memset(hash, 0, sizeof(hash));

    ConfigurationCallbacks callbacks{};
    callbacks.number = read_number;
    callbacks.range = read_range;
    callbacks.object = nullptr;  // object entries are not taken
    callbacks.version = read_version;
    callbacks.hash = configuration_hash;
    callbacks.user = this;

    const bool read = from_file ? configuration_read_file(source, &callbacks)
                                : configuration_read_memory(source, &callbacks);
    if (!read) {
        return false;
    }
    return check_required_properties();
}

void PrivateSession::set_version(const char *text) {
    if (text == nullptr) {
        return;
    }
    // The field holds at most VERSION_TEXT_SIZE - 1 characters; a longer version is cut there.
    const size_t count = strnlen(text, VERSION_TEXT_SIZE - 1);
    std::memcpy(version, text, count);
    version[count] = '\0';
}

void PrivateSession::set_configuration_hash(const char *text, size_t text_length) {
    if (text == nullptr || text_length >= HASH_TEXT_SIZE) {
        return;  // a hash that does not fit is ignored
    }
    const size_t count = strnlen(text, text_length);
    std::memcpy(hash, text, count);
    hash[count] = '\0';
}

void PrivateSession::set_number(const char *name, int i_value, double d_value, bool enable) {
    if (same_name(name, "signal_noise")) {
        signal_noise = {i_value, enable, true};
    } else if (same_name(name, "telephony_border")) {
        telephony_border = {i_value, enable, true};
    } else if (same_name(name, "overload_border")) {
        overload_border = {static_cast<float>(d_value), enable, true};
    } else if (same_name(name, "voice_duration")) {
        voice_duration = {static_cast<float>(d_value), enable, true};
    }
}

int PrivateSession::set_range(const char *name, int i_min, double d_min, int i_max, double d_max,
                              bool enable) {
    // The order test comes first, so a reversed range is refused whatever its name.
    if (enable && (i_min > i_max || static_cast<float>(d_min) > static_cast<float>(d_max))) {
        LogText safe_name;  // the name comes from the configuration text
        LOG(LOG_ERROR, "Wrong configuration '%s' : minimum value greater than maximum",
            log_text(&safe_name, name != nullptr ? name : ""));
        LOG(LOG_DEBUG, "i_min %d, d_min %lf, i_max %d, d_max %lf, enable %d", i_min, d_min, i_max,
            d_max, 1);
        return -1;
    }
    IntValue *target = nullptr;
    if (same_name(name, "duration")) {
        target = &duration;
    } else if (same_name(name, "sample_rate")) {
        target = &sample_rate;
    } else if (same_name(name, "channels")) {
        target = &channels;
    } else if (same_name(name, "depth")) {
        target = &depth;
    } else if (same_name(name, "length")) {
        target = &length;
    }
    if (target != nullptr) {
        *target = {i_max, i_min, enable, true};
    }
    return 0;
}

void PrivateSession::init_result() {
    struct SlotSetup {
        const char *name;
        bool enable;
        ResultSlot next;  // RESULT_SLOT_COUNT ends the chain
    };
    // Indexed by block position; next gives the reporting order:
    // length, sample_rate, voice_duration, overload, telephony_border, channels, depth,
    // duration, signal_noise.
    const SlotSetup setup[RESULT_SLOT_COUNT] = {
        /* SLOT_LENGTH */ {"length", length.enable, SLOT_SAMPLE_RATE},
        /* SLOT_DURATION */ {"duration", duration.enable, SLOT_SIGNAL_NOISE},
        /* SLOT_DEPTH */ {"depth", depth.enable, SLOT_DURATION},
        /* SLOT_CHANNELS */ {"channels", channels.enable, SLOT_DEPTH},
        /* SLOT_SAMPLE_RATE */ {"sample_rate", sample_rate.enable, SLOT_VOICE_DURATION},
        /* SLOT_TELEPHONY_BORDER */ {"telephony_border", telephony_border.enable, SLOT_CHANNELS},
        /* SLOT_OVERLOAD */ {"overload", overload_border.enable, SLOT_TELEPHONY_BORDER},
        /* SLOT_VOICE_DURATION */ {"voice_duration", voice_duration.enable, SLOT_OVERLOAD},
        /* SLOT_SIGNAL_NOISE */ {"signal_noise", signal_noise.enable, RESULT_SLOT_COUNT},
    };

    // The previous check's signal-to-noise text is released here, when its slot is reset.
    std::free(signal_noise_text);
    signal_noise_text = nullptr;

    for (size_t i = 0; i < RESULT_SLOT_COUNT; ++i) {
        SessionValue &slot = results[i];
        slot.name = setup[i].name;
        slot.enable = setup[i].enable;
        slot.state = SESSION_VALUE_NOT_EVALUATED;
        slot.value = 0.0;
        slot.text = nullptr;
        slot.next = setup[i].next == RESULT_SLOT_COUNT ? nullptr : &results[setup[i].next];
    }
}
