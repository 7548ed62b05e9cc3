// Recordings made up for the differential tests and the benchmarks: speech-like (the speech
// fixture repeated and brought to any rate, over a little noise), noise, silence and clipped
// speech, as interleaved 16-bit frames wrapped in a WAV file.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/wav_bytes.h"

namespace synthetic {

using Bytes = std::vector<unsigned char>;

enum class Kind { silence, noise, voiced, clipped };

inline const char *kind_name(Kind kind) {
    switch (kind) {
    case Kind::silence: return "silence";
    case Kind::noise: return "noise";
    case Kind::voiced: return "voiced";
    case Kind::clipped: return "clipped";
    }
    return "?";
}

// The mono 16-bit samples of a canonical WAV file (44-byte header); empty when unreadable.
inline std::vector<int16_t> load_mono_samples(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(file), {}};
    std::vector<int16_t> samples;
    for (size_t at = 44; at + 1 < bytes.size(); at += 2) {
        samples.push_back(static_cast<int16_t>(bytes[at] | (bytes[at + 1] << 8)));
    }
    return samples;
}

// A fixed-seed generator, so every run sees the same samples.
class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed) {}
    // Uniform in [-1, 1].
    double next() {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_) / 4294967295.0 * 2.0 - 1.0;
    }

private:
    uint32_t state_;
};

inline int16_t clamp16(double value) {
    if (value > 32767.0) return 32767;
    if (value < -32768.0) return -32768;
    return static_cast<int16_t>(std::lround(value));
}

// Interleaved frames: speech is the 8000 Hz speech recording, repeated with a slowly changing
// gain and interpolated to rate; each channel starts at its own place in it.
inline std::vector<int16_t> make_frames(Kind kind, uint32_t rate, uint16_t channels, size_t frames,
                                        const std::vector<int16_t> &speech, uint32_t seed = 7) {
    std::vector<int16_t> out(frames * channels);
    Noise noise(seed);
    const double step = speech.empty() ? 0.0 : 8000.0 / rate;
    for (size_t i = 0; i < frames; ++i) {
        for (uint16_t c = 0; c < channels; ++c) {
            double value = 0.0;
            if (kind == Kind::noise) {
                value = 3000.0 * noise.next();
            } else if ((kind == Kind::voiced || kind == Kind::clipped) && !speech.empty()) {
                const double position = i * step + c * 1234.5;
                const size_t length = speech.size();
                const size_t round = static_cast<size_t>(position) / length;
                const double within = std::fmod(position, static_cast<double>(length));
                const size_t at = static_cast<size_t>(within);
                const double fraction = within - static_cast<double>(at);
                const double a = speech[at];
                const double b = speech[(at + 1) % length];
                const double gain = 0.6 + 0.4 * std::sin(0.7 * static_cast<double>(round) + c);
                value = (a + (b - a) * fraction) * gain + 40.0 * noise.next();
                if (kind == Kind::clipped) value *= 12.0;
            }
            out[i * channels + c] = clamp16(value);
        }
    }
    return out;
}

// A canonical 16-bit PCM WAV file of interleaved frames.
inline Bytes wav(uint32_t rate, uint16_t channels, const std::vector<int16_t> &interleaved) {
    const uint32_t data_size = static_cast<uint32_t>(interleaved.size() * 2);
    Bytes out;
    out.reserve(44 + data_size);
    test_support::put_canonical_wav_header(
        out, {channels, rate, rate * channels * 2u, static_cast<uint16_t>(channels * 2), 16, data_size});
    out.resize(44 + data_size);
    if (data_size != 0) std::memcpy(out.data() + 44, interleaved.data(), data_size);
    return out;
}

inline Bytes recording(Kind kind, uint32_t rate, uint16_t channels, size_t frames,
                       const std::vector<int16_t> &speech) {
    return wav(rate, channels, make_frames(kind, rate, channels, frames, speech));
}

}  // namespace synthetic
