// The configured checks of a session: required properties, teardown, and the validation of
// measured values against their limits.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libcommon.h"
#include "private_session.h"

PrivateSessionConfiguration::~PrivateSessionConfiguration() {
    if (processing_sound_name != nullptr) {
        LOG(LOG_INFO, "Освобождение ресурсов processing_output_sound");
        std::free(processing_sound_name);
        processing_sound_name = nullptr;
    }
    std::free(signal_noise_text);
    signal_noise_text = nullptr;
}

bool PrivateSessionConfiguration::check_required_properties() {
    static constexpr char message[] =
        "[config] Configuration to old or damaged. %s required but not configured";
    if (!signal_noise.configured) {
        LOG(LOG_ERROR, message, "signal_noise");
        return false;
    }
    if (!overload_border.configured) {
        LOG(LOG_ERROR, message, "overload_border");
        return false;
    }
    return true;
}

// Every comparison below is written so that a NaN value passes: no comparison with it is true.

bool PrivateSessionConfiguration::is_valid_result(const IntValue &check, SessionValue &slot) {
    if (!check.enable) {
        return true;
    }
    const double value = slot.value;
    if (value > static_cast<double>(check.i_max) || static_cast<double>(check.i_min) > value) {
        LOG(LOG_WARN, "[library] %s failed: %lf", slot.name, value);
        return false;
    }
    return true;
}

bool PrivateSessionConfiguration::is_valid_result(const SingleIntValue &check, SessionValue &slot) {
    if (!check.enable) {
        return true;
    }
    const double value = slot.value;
    if (static_cast<double>(check.border) >= value) {
        LOG(LOG_WARN, "[library] %s failed: %lf", slot.name, value);
        slot.state = SESSION_VALUE_FAILED;
        return false;
    }
    return true;
}

bool PrivateSessionConfiguration::is_valid_result(const SingleFloatValue &check, SessionValue &slot,
                                                  bool failed) {
    if (!check.enable || !failed) {
        return true;
    }
    LOG(LOG_WARN, "[library] %s failed: %lf", slot.name, slot.value);
    slot.state = SESSION_VALUE_FAILED;
    return false;
}

namespace {

bool settle(SessionValue &slot, bool passed) {
    slot.state = passed ? SESSION_VALUE_PASSED : SESSION_VALUE_FAILED;
    return passed;
}

}  // namespace

bool PrivateSessionConfiguration::try_set_result(const IntValue &check, SessionValue &slot,
                                                 double value) {
    slot.text = nullptr;
    slot.value = value;
    return settle(slot, is_valid_result(check, slot));
}

bool PrivateSessionConfiguration::try_set_result(const SingleIntValue &check, SessionValue &slot,
                                                 double value) {
    slot.text = nullptr;
    slot.value = value;
    return settle(slot, is_valid_result(check, slot));
}

bool PrivateSessionConfiguration::try_set_result(const SingleFloatValue &check, SessionValue &slot,
                                                 double value, bool failed) {
    slot.text = nullptr;
    slot.value = value;
    return settle(slot, is_valid_result(check, slot, failed));
}

bool PrivateSessionConfiguration::try_set_length_result(double value) {
    return try_set_result(length, results[SLOT_LENGTH], value);
}

bool PrivateSessionConfiguration::try_set_duration_result(double value) {
    return try_set_result(duration, results[SLOT_DURATION], value);
}

bool PrivateSessionConfiguration::try_set_depth_result(double value) {
    return try_set_result(depth, results[SLOT_DEPTH], value);
}

bool PrivateSessionConfiguration::try_set_channels_result(double value) {
    return try_set_result(channels, results[SLOT_CHANNELS], value);
}

bool PrivateSessionConfiguration::try_set_sample_rate_result(double value) {
    return try_set_result(sample_rate, results[SLOT_SAMPLE_RATE], value);
}

bool PrivateSessionConfiguration::try_set_telephony_border_result(double value) {
    return try_set_result(telephony_border, results[SLOT_TELEPHONY_BORDER], value);
}

bool PrivateSessionConfiguration::try_set_overload_border_result(double value) {
    // An upper border, exclusive; compared in the border's single precision.
    const bool failed = value >= static_cast<double>(overload_border.border);
    return try_set_result(overload_border, results[SLOT_OVERLOAD], value, failed);
}

bool PrivateSessionConfiguration::try_set_voice_duration_result(double value) {
    // A lower border, inclusive; compared in the border's single precision.
    const bool failed = static_cast<double>(voice_duration.border) > value;
    return try_set_result(voice_duration, results[SLOT_VOICE_DURATION], value, failed);
}

bool PrivateSessionConfiguration::record_voice_duration_result(double value) {
    return try_set_result(voice_duration, results[SLOT_VOICE_DURATION], value, false);
}

namespace {

// The values as "%f" texts joined by ", " in a new malloc'd text; null when out of memory.
char *join_values(const double *values, int count) {
    size_t size = 1;
    for (int i = 0; i < count; ++i) {
        const int written = std::snprintf(nullptr, 0, "%s%f", i == 0 ? "" : ", ", values[i]);
        if (written < 0) {
            return nullptr;
        }
        size += static_cast<size_t>(written);
    }
    char *text = static_cast<char *>(std::malloc(size));
    if (text == nullptr) {
        return nullptr;
    }
    size_t used = 0;
    text[0] = '\0';
    for (int i = 0; i < count; ++i) {
        const int written =
            std::snprintf(text + used, size - used, "%s%f", i == 0 ? "" : ", ", values[i]);
        if (written < 0) {
            break;
        }
        used += static_cast<size_t>(written);
    }
    return text;
}

}  // namespace

bool PrivateSessionConfiguration::try_set_signal_noise_results(const double *values, int count) {
    return set_signal_noise_results(values, count, true);
}

bool PrivateSessionConfiguration::record_signal_noise_results(const double *values, int count) {
    return set_signal_noise_results(values, count, signal_noise.enable);
}

bool PrivateSessionConfiguration::set_signal_noise_results(const double *values, int count,
                                                           bool judged) {
    SessionValue &slot = results[SLOT_SIGNAL_NOISE];
    if (values == nullptr || count < 0) {
        count = 0;
    }
    // With no values there is no first value to start the minimum from: it stays 0.0.
    double minimum = count > 0 ? values[0] : 0.0;
    bool passed = true;
    slot.state = SESSION_VALUE_PASSED;
    const double border = static_cast<double>(signal_noise.border);
    for (int i = 0; i < count; ++i) {
        const double value = values[i];
        if (value < minimum) {
            minimum = value;
        }
        if (judged && border > value) {
            LOG(LOG_WARN, "[library] SignalNoise failed. %lf less then %d", value,
                signal_noise.border);
            slot.state = SESSION_VALUE_FAILED;
            passed = false;
        }
    }
    // A repeated call before the next reset replaces the earlier text.
    std::free(signal_noise_text);
    signal_noise_text = join_values(values, count);
    slot.value = minimum;
    slot.text = signal_noise_text;
    return passed;
}
