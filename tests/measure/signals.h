// Test signals for the detector and the measurements: the speech fixture, noise, clipping.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace signals {

struct Recording {
    uint32_t sample_rate = 0;
    std::vector<int16_t> samples;  // mono
};

inline uint32_t little_endian(const unsigned char *bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

// Reads a mono 16-bit PCM WAV by walking its chunks; an empty recording when it isn't one.
inline Recording load_mono_wav(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), {}};
    Recording recording;
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        return recording;
    }
    size_t at = 12;
    uint32_t channels = 0, bits = 0;
    while (at + 8 <= bytes.size()) {
        const uint32_t size = little_endian(&bytes[at + 4], 4);
        const size_t body = at + 8;
        if (size > bytes.size() - body) break;
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && size >= 16) {
            channels = little_endian(&bytes[body + 2], 2);
            recording.sample_rate = little_endian(&bytes[body + 4], 4);
            bits = little_endian(&bytes[body + 14], 2);
        } else if (std::memcmp(&bytes[at], "data", 4) == 0 && channels == 1 && bits == 16) {
            for (size_t i = 0; i + 1 < size; i += 2) {
                recording.samples.push_back(
                    static_cast<int16_t>(little_endian(&bytes[body + i], 2)));
            }
            return recording;
        }
        at = body + size + (size & 1);
    }
    return Recording{};
}

inline Recording speech_fixture() {
    return load_mono_wav(std::string(SONARA_FIXTURE_DIR) + "/speech_8k.wav");
}

// Uniform white noise of the given RMS from a fixed-seed generator, so every run sees the
// same samples.
inline std::vector<double> white_noise(size_t count, double rms, uint32_t seed = 12345) {
    std::vector<double> noise(count);
    uint32_t state = seed;
    const double half_width = rms * 1.7320508075688772;  // uniform on [-a, a] has RMS a/sqrt(3)
    for (double &value : noise) {
        state = state * 1664525u + 1013904223u;
        value = (static_cast<double>(state) / 4294967295.0 * 2.0 - 1.0) * half_width;
    }
    return noise;
}

inline std::vector<double> to_doubles(const std::vector<int16_t> &samples) {
    return std::vector<double>(samples.begin(), samples.end());
}

// Adds noise and rounds to whole numbers in the 16-bit range, as a decoder would see them.
inline std::vector<double> mix(const std::vector<double> &signal, const std::vector<double> &noise) {
    std::vector<double> mixed(signal.size());
    for (size_t i = 0; i < signal.size(); ++i) {
        double value = static_cast<double>(static_cast<long>(signal[i] + noise[i % noise.size()]));
        mixed[i] = value > 32767.0 ? 32767.0 : (value < -32768.0 ? -32768.0 : value);
    }
    return mixed;
}

// Scales by gain and cuts everything beyond the 16-bit range, like an overdriven input.
inline std::vector<double> hard_clip(const std::vector<double> &signal, double gain) {
    std::vector<double> clipped(signal.size());
    for (size_t i = 0; i < signal.size(); ++i) {
        const double value = static_cast<double>(static_cast<long>(signal[i] * gain));
        clipped[i] = value > 32767.0 ? 32767.0 : (value < -32768.0 ? -32768.0 : value);
    }
    return clipped;
}

}  // namespace signals
