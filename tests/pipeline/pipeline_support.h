// Helpers for the check-pipeline tests: WAV files built byte by byte, configuration text with
// overrides, result slots by name, and a capture of libcommon's log.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "libcommon.h"
#include "sonara.h"
#include "support/log_capture.h"
#include "support/owned_session.h"
#include "support/wav_bytes.h"

namespace pipeline_test {

using Bytes = std::vector<unsigned char>;

// The 'fmt ' fields of a canonical PCM header; each one can be bent to build a damaged file.
struct Format {
    uint16_t channels = 1;
    uint32_t sample_rate = 8000;
    uint16_t bits_per_sample = 16;
    // Derived from the fields above unless set.
    int64_t byte_rate = -1;
    int64_t block_align = -1;
};

// A RIFF/WAVE file with a 16-byte 'fmt ' chunk and the given data payload.
inline Bytes wav(const Format &format, const Bytes &data) {
    const uint16_t block_align = format.block_align >= 0
        ? static_cast<uint16_t>(format.block_align)
        : static_cast<uint16_t>(format.channels * (format.bits_per_sample / 8));
    const uint32_t byte_rate = format.byte_rate >= 0 ? static_cast<uint32_t>(format.byte_rate)
                                                     : format.sample_rate * block_align;
    Bytes out;
    test_support::put_canonical_wav_header(
        out, {format.channels, format.sample_rate, byte_rate, block_align, format.bits_per_sample,
              static_cast<uint32_t>(data.size())});
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// Interleaved 16-bit samples: frames x channels, each value from sample(frame, channel).
template <typename Sample>
Bytes pcm16(size_t frames, unsigned channels, Sample sample) {
    Bytes out;
    out.reserve(frames * channels * 2);
    for (size_t i = 0; i < frames; ++i) {
        for (unsigned c = 0; c < channels; ++c) test_support::put_le16(out, static_cast<uint16_t>(sample(i, c)));
    }
    return out;
}

// A 440 Hz tone at a moderate level.
inline Bytes tone(const Format &format, double seconds) {
    const size_t frames = static_cast<size_t>(seconds * format.sample_rate);
    const double rate = format.sample_rate != 0 ? format.sample_rate : 8000.0;
    return wav(format, pcm16(frames, format.channels, [&](size_t i, unsigned) {
                   return static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 440.0 * i / rate));
               }));
}

// Configuration text: the default checks, with whole entries replaced or added by overrides
// (name -> JSON object text).
inline std::string configuration(const std::map<std::string, std::string> &overrides = {}) {
    std::map<std::string, std::string> entries = {
        {"length", R"({ "min": 1, "max": 20480 })"},
        {"duration", R"({ "min": 2, "max": 600 })"},
        {"depth", R"({ "min": 16, "max": 16 })"},
        {"channels", R"({ "min": 1, "max": 2 })"},
        {"sample_rate", R"({ "min": 8000, "max": 48000 })"},
        {"telephony_border", R"({ "value": 10 })"},
        {"overload_border", R"({ "value": 0.5 })"},
        {"signal_noise", R"({ "value": 15 })"},
        {"voice_duration", R"({ "value": 1.0 })"},
    };
    for (const auto &[name, body] : overrides) entries[name] = body;
    std::string text = R"({ "version": "test")";
    for (const auto &[name, body] : entries) text += ", \"" + name + "\": " + body;
    return text + " }";
}

// The names of the nine result slots.
inline const std::vector<std::string> &slot_names() {
    static const std::vector<std::string> names = {
        "length",           "sample_rate", "voice_duration", "overload",    "telephony_border",
        "channels",         "depth",       "duration",       "signal_noise"};
    return names;
}

// The slot of the session's result chain that carries name; null when there is none.
inline const SessionValue *slot(Session &session, const std::string &name) {
    SessionValue *first = nullptr;
    if (!v_result_session(&session, &first)) return nullptr;
    for (const SessionValue *value = first; value != nullptr; value = value->next) {
        if (value->name != nullptr && name == value->name) return value;
    }
    return nullptr;
}

// Every slot's state as "name=state" in chain order, for readable failure messages.
inline std::string slot_states(Session &session) {
    SessionValue *first = nullptr;
    if (!v_result_session(&session, &first)) return "<no result chain>";
    std::string text;
    for (const SessionValue *value = first; value != nullptr; value = value->next) {
        if (!text.empty()) text += ' ';
        text += std::string(value->name != nullptr ? value->name : "?") + "=" +
                std::to_string(value->state);
    }
    return text;
}

inline Bytes read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using test_support::LogCapture;

// A session created from configuration text, destroyed with the object.
class CheckedSession : public test_support::OwnedSession {
public:
    explicit CheckedSession(const std::string &text) {
        created_ = v_create_session_from_memory(&session_, text.c_str());
    }

    bool check(const Bytes &content) { return v_check(&session_, content.data(), content.size()); }
};

}  // namespace pipeline_test
