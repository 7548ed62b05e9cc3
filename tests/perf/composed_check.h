// The check composed from the standalone measurements, one call after another in the order of
// the pipeline, each value through the session's try_set_ method: what v_check must stay
// indistinguishable from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "private_session.h"
#include "sonara.h"
#include "sound.h"

namespace differential {

// Steps after the argument test, one standalone function after another, in the pipeline's
// order, each value through the session's try_set_ method.
inline int32_t compose(PrivateSession &payment, const unsigned char *content, size_t size) {
    payment.init_result();
    if (!payment.try_set_length_result(static_cast<double>(size) * 0.0009765625)) {
        return STATE_LENGTH_FAILED;
    }
    Head head;
    if (!read_head(content, size, &head)) return STATE_HEAD_FAILED;
    head.name = payment.processing_sound_name;
    if (!payment.try_set_duration_result(head.duration)) return STATE_DURATION_FAILED;
    if (!payment.try_set_depth_result(static_cast<double>(head.bits_per_sample))) {
        return STATE_DEPTH_FAILED;
    }
    if (!payment.try_set_channels_result(static_cast<double>(head.channels))) {
        return STATE_CHANNELS_FAILED;
    }
    if (!payment.try_set_sample_rate_result(static_cast<double>(head.sample_rate))) {
        return STATE_SAMPLE_RATE_FAILED;
    }
    Unpack unpack;
    if (!read_unpack(&head, &unpack)) return STATE_UNPACK_FAILED;

    int32_t state = STATE_OK;
    if (payment.telephony_border.enable &&
        !payment.try_set_telephony_border_result(get_telephony_border(&head, &unpack))) {
        state = STATE_TELEPHONY_BORDER_FAILED;
    } else if (payment.overload_border.enable &&
               !payment.try_set_overload_border_result(get_overloading_value(&unpack))) {
        state = STATE_OVERLOAD_BORDER_FAILED;
    } else if (payment.signal_noise.enable) {
        const int count = static_cast<int>(unpack.channel_count);
        double *values = read_signal_noise(&head, &unpack);
        if (values == nullptr && count > 0) {
            state = STATE_UNPACK_FAILED;
        } else {
            if (!payment.try_set_signal_noise_results(values, count)) {
                state = STATE_SIGNAL_NOISE_FAILED;
            }
            delete[] values;
            if (!payment.try_set_voice_duration_result(get_filtered_duration(&head, &unpack))) {
                state = STATE_VOICE_DURATION_FAILED;
            }
        }
    }
    free_unpack(&unpack);
    return state;
}

// Limits every recording passes, so each measurement runs and hands on to the next.
inline std::string permissive_configuration() {
    return R"({ "version": "all-steps",
        "length": { "min": 0, "max": 2000000000 }, "duration": { "min": 0, "max": 1000000 },
        "depth": { "min": 0, "max": 64 }, "channels": { "min": 0, "max": 64 },
        "sample_rate": { "min": 0, "max": 400000 }, "telephony_border": { "value": -100000 },
        "overload_border": { "value": 2.0 }, "signal_noise": { "value": -100000 },
        "voice_duration": { "value": -1.0 } })";
}

}  // namespace differential
