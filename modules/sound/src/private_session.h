// The private per-session object ("payment" in the log): the configured checks, the result
// block and the configuration's version and hash texts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "check_details.h"
#include "payment_layout.h"
#include "session_types.h"

// An inclusive integer range. The maximum comes first.
struct IntValue {
    int32_t i_max;
    int32_t i_min;
    bool enable;
    bool configured;
};

// One integer border.
struct SingleIntValue {
    int32_t border;
    bool enable;
    bool configured;
};

// One real border, kept in single precision and widened to double when compared.
struct SingleFloatValue {
    float border;
    bool enable;
    bool configured;
};

// Positions of the slots inside the result block; the chain order is another (see init_result).
enum ResultSlot {
    SLOT_LENGTH = 0,
    SLOT_DURATION,
    SLOT_DEPTH,
    SLOT_CHANNELS,
    SLOT_SAMPLE_RATE,
    SLOT_TELEPHONY_BORDER,
    SLOT_OVERLOAD,
    SLOT_VOICE_DURATION,
    SLOT_SIGNAL_NOISE,
    RESULT_SLOT_COUNT
};

constexpr uint32_t PRIVATE_SESSION_MAGIC = SOUND_PAYMENT_MAGIC;
constexpr size_t VERSION_TEXT_SIZE = 20;
constexpr size_t HASH_TEXT_SIZE = 256;

struct PrivateSessionConfiguration {
    ~PrivateSessionConfiguration();

    bool check_required_properties();

    bool is_valid_result(const IntValue &check, SessionValue &slot);
    bool is_valid_result(const SingleIntValue &check, SessionValue &slot);
    bool is_valid_result(const SingleFloatValue &check, SessionValue &slot, bool failed);
    bool try_set_result(const IntValue &check, SessionValue &slot, double value);
    bool try_set_result(const SingleIntValue &check, SessionValue &slot, double value);
    bool try_set_result(const SingleFloatValue &check, SessionValue &slot, double value, bool failed);

    bool try_set_length_result(double value);
    bool try_set_duration_result(double value);
    bool try_set_depth_result(double value);
    bool try_set_channels_result(double value);
    bool try_set_sample_rate_result(double value);
    bool try_set_telephony_border_result(double value);
    bool try_set_overload_border_result(double value);
    bool try_set_voice_duration_result(double value);
    // Stores the voice duration and passes it unjudged: the signal_noise switch is off, under
    // which v_check never measures it.
    bool record_voice_duration_result(double value);
    bool try_set_signal_noise_results(const double *values, int count);
    // As try_set_signal_noise_results, but a disabled signal_noise check records the values and
    // passes, as every other slot's check does (v_check_all measures them whatever the switch).
    bool record_signal_noise_results(const double *values, int count);
    // Both of the above: the values stored, compared with the border only when judged.
    bool set_signal_noise_results(const double *values, int count, bool judged);

    SingleIntValue signal_noise;
    IntValue duration;
    IntValue sample_rate;
    IntValue channels;
    IntValue depth;
    IntValue length;
    SingleIntValue telephony_border;
    SingleFloatValue overload_border;
    SingleFloatValue voice_duration;
    char *processing_sound_name;
    SessionValue results[RESULT_SLOT_COUNT];
    char version[VERSION_TEXT_SIZE];
    char hash[HASH_TEXT_SIZE];
    // The signal-to-noise text handed out through the "signal_noise" slot; owned here so it stays
    // readable until the next reset or destruction, and is released then.
    char *signal_noise_text;
};

struct PrivateSession : PrivateSessionConfiguration {
    PrivateSession() {}  // sets nothing: read_configuration initialises every field

    bool read_configuration(const char *source, bool from_file);
    void set_version(const char *text);
    void set_configuration_hash(const char *text, size_t length);
    void set_number(const char *name, int i_value, double d_value, bool enable);
    int set_range(const char *name, int i_min, double d_min, int i_max, double d_max, bool enable);
    void init_result();

    uint32_t magic;
    // After the magic, whose offset is fixed (payment_layout.h).
    CheckDetails details;
};

// The photo library's object keeps its own magic where this one keeps `magic` (see
// payment_layout.h), so each library refuses the other's record without reading outside it.
// offsetof over a derived class is conditionally supported; GCC and clang give the plain offset.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(PrivateSession, magic) == PAYMENT_MAGIC_OFFSET,
              "payment_layout.h must give the offset of PrivateSession::magic");
#pragma GCC diagnostic pop
static_assert(sizeof(PrivateSession) >= PAYMENT_MAGIC_OFFSET + sizeof(uint32_t));
static_assert(PRIVATE_SESSION_MAGIC != PHOTO_PAYMENT_MAGIC);
