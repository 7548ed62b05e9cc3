// The table of check outcomes shared by the v_check and v_check_all tests: each row a
// configuration, a content, how the call is made, the state it ends with and the slots v_check
// evaluates.
#pragma once

#include <sstream>

#include "pipeline_support.h"

namespace pipeline_test {

// How the checked call is made.
enum class Call { check, null_content, zero_size, blank_record, destroyed_record };

struct Outcome {
    const char *what;
    std::map<std::string, std::string> overrides;
    Bytes content;
    int32_t state;
    // "name=state" for every slot the check evaluates; every other slot must stay at 0.
    std::string slots;
    Call call = Call::check;
    // Checked first on the same session (for the calls that must keep its results).
    Bytes before = {};
};

// Recordings far shorter than one 10 ms analysis frame: every voice-activity figure is 0.0
// (telephony border, signal-to-noise, voice duration), so the measured outcomes only depend on
// the configured borders.
inline Bytes blip(int16_t a, int16_t b) {
    return wav(Format{}, pcm16(40, 1, [&](size_t i, unsigned) { return i % 2 == 0 ? a : b; }));
}
inline const Bytes kSteadyBlip = blip(1000, 1000);        // one histogram bin: overload 0.0
inline const Bytes kClippedBlip = blip(-32767, 32767);   // both extremes only: overload near 1.0

// Lets the blips through the header-level checks and passes each 0.0 measurement.
inline std::map<std::string, std::string> blip_configuration(std::map<std::string, std::string> more = {}) {
    std::map<std::string, std::string> entries = {
        {"length", R"({ "min": 0, "max": 20480 })"},
        {"duration", R"({ "min": 0, "max": 600 })"},
        {"telephony_border", R"({ "value": -1 })"},
        {"signal_noise", R"({ "value": 0 })"},
        {"voice_duration", R"({ "value": 0 })"},
    };
    for (const auto &[name, body] : more) entries[name] = body;
    return entries;
}

inline constexpr char kFive[] = "length=1 duration=1 depth=1 channels=1 sample_rate=1";

inline std::string five(const std::string &more) { return std::string(kFive) + " " + more; }

inline std::vector<Outcome> outcomes() {
    const Bytes not_wav(2048, 'x');
    const Bytes one_second = tone(Format{}, 1.0);
    Format three;
    three.channels = 3;
    Format low_rate;
    low_rate.sample_rate = 4000;
    Format eight_bit;
    eight_bit.bits_per_sample = 8;
    Format no_alignment;
    no_alignment.block_align = 0;
    no_alignment.byte_rate = 16000;  // the parser wants a byte rate
    Format no_channels;
    no_channels.channels = 0;
    no_channels.block_align = 2;
    no_channels.byte_rate = 16000;

    return {
        {"blank record", {}, tone(Format{}, 2.5), STATE_BAD_SESSION, "", Call::blank_record},
        {"destroyed record", {}, tone(Format{}, 2.5), STATE_BAD_SESSION, "", Call::destroyed_record},
        {"null content keeps the previous results", {}, {}, STATE_CONTENT_FAILED,
         "length=1 duration=2", Call::null_content, one_second},
        {"zero size keeps the previous results", {}, not_wav, STATE_CONTENT_FAILED, "length=1",
         Call::zero_size, not_wav},
        {"length below the minimum", {}, Bytes(500, 'x'), STATE_LENGTH_FAILED, "length=2"},
        {"no RIFF header", {}, not_wav, STATE_HEAD_FAILED, "length=1"},
        {"shorter than two seconds", {}, one_second, STATE_DURATION_FAILED, "length=1 duration=2"},
        {"eight bits per sample", {}, wav(eight_bit, Bytes(24000, 0x80)), STATE_DEPTH_FAILED,
         "length=1 duration=1 depth=2"},
        {"three channels", {}, tone(three, 2.5), STATE_CHANNELS_FAILED,
         "length=1 duration=1 depth=1 channels=2"},
        {"4000 Hz", {}, tone(low_rate, 2.5), STATE_SAMPLE_RATE_FAILED,
         "length=1 duration=1 depth=1 channels=1 sample_rate=2"},
        {"block alignment 0 cannot be decoded", {}, tone(no_alignment, 2.5), STATE_UNPACK_FAILED,
         kFive},
        {"telephony border fails", blip_configuration({{"telephony_border", R"({ "value": 10 })"}}),
         kSteadyBlip, STATE_TELEPHONY_BORDER_FAILED, five("telephony_border=2")},
        {"overload fails after the telephony border", blip_configuration(), kClippedBlip,
         STATE_OVERLOAD_BORDER_FAILED, five("telephony_border=1 overload=2")},
        {"overload fails, telephony border off",
         blip_configuration({{"telephony_border", R"({ "value": 10, "enable": false })"}}),
         kClippedBlip, STATE_OVERLOAD_BORDER_FAILED, five("overload=2")},
        {"signal-to-noise fails, voice duration passes",
         blip_configuration({{"signal_noise", R"({ "value": 15 })"}}), kSteadyBlip,
         STATE_SIGNAL_NOISE_FAILED,
         five("telephony_border=1 overload=1 signal_noise=2 voice_duration=1")},
        {"voice duration fails", blip_configuration({{"voice_duration", R"({ "value": 1.0 })"}}),
         kSteadyBlip, STATE_VOICE_DURATION_FAILED,
         five("telephony_border=1 overload=1 signal_noise=1 voice_duration=2")},
        {"both fail: voice duration wins",
         blip_configuration({{"signal_noise", R"({ "value": 15 })"},
                             {"voice_duration", R"({ "value": 1.0 })"}}),
         kSteadyBlip, STATE_VOICE_DURATION_FAILED,
         five("telephony_border=1 overload=1 signal_noise=2 voice_duration=2")},
        {"everything passes", blip_configuration(), kSteadyBlip, STATE_OK,
         five("telephony_border=1 overload=1 signal_noise=1 voice_duration=1")},
        {"measurements switched off: only the five",
         blip_configuration({{"telephony_border", R"({ "value": 10, "enable": false })"},
                             {"overload_border", R"({ "value": 0.5, "enable": false })"},
                             {"signal_noise", R"({ "value": 15, "enable": false })"},
                             {"voice_duration", R"({ "value": 1.0 })"}}),
         kClippedBlip, STATE_OK, kFive},
        {"voice duration measured but not judged",
         blip_configuration({{"voice_duration", R"({ "value": 1.0, "enable": false })"}}),
         kSteadyBlip, STATE_OK,
         five("telephony_border=1 overload=1 signal_noise=1 voice_duration=1")},
        {"no channels: nothing to measure, nothing read",
         blip_configuration({{"channels", R"({ "min": 0, "max": 2 })"},
                             {"telephony_border", R"({ "value": 10, "enable": false })"},
                             {"overload_border", R"({ "value": 0.5, "enable": false })"}}),
         wav(no_channels, Bytes(64, 0)), STATE_OK, five("signal_noise=1 voice_duration=1")},
    };
}

inline std::map<std::string, int32_t> parse_slots(const std::string &text) {
    std::map<std::string, int32_t> states;
    std::istringstream in(text);
    std::string item;
    while (in >> item) {
        const size_t equals = item.find('=');
        states[item.substr(0, equals)] = std::stoi(item.substr(equals + 1));
    }
    return states;
}

}  // namespace pipeline_test
