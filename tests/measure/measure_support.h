// Records and log capture for the measurement tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "libcommon.h"
#include "sound.h"
#include "support/log_capture.h"

// From sound_unit.cpp, which compiles the sound unit into the test binary.
void resample_for_test(Head *head, Unpack *unpack, uint32_t rate);

namespace measure {

using Channel = std::vector<double>;

// A decoded recording built from samples: a Head as the parser leaves it and an Unpack whose
// arrays come from malloc, released with free_unpack.
class Recording {
public:
    Recording(uint32_t sample_rate, const std::vector<Channel> &channels, const char *name = nullptr) {
        std::memset(&head_, 0, sizeof head_);
        std::memset(&unpack_, 0, sizeof unpack_);
        const uint64_t frames = channels.empty() ? 0 : channels[0].size();
        head_.sample_rate = sample_rate;
        head_.channels = static_cast<uint16_t>(channels.size());
        head_.bits_per_sample = 16;
        head_.block_align = static_cast<uint16_t>(2 * channels.size());
        head_.name = name;
        unpack_.channel_count = channels.size();
        unpack_.frames = frames;
        unpack_.times_count = frames;
        unpack_.times = static_cast<double *>(std::malloc((frames + 1) * sizeof(double)));
        unpack_.payload = static_cast<double **>(std::calloc(channels.size() + 1, sizeof(double *)));
        for (uint64_t i = 0; i < frames; ++i) unpack_.times[i] = static_cast<double>(i) / sample_rate;
        for (size_t c = 0; c < channels.size(); ++c) {
            unpack_.payload[c] = static_cast<double *>(std::malloc((frames + 1) * sizeof(double)));
            if (frames != 0) std::memcpy(unpack_.payload[c], channels[c].data(), frames * sizeof(double));
        }
    }
    ~Recording() { free_unpack(&unpack_); }
    Recording(const Recording &) = delete;
    Recording &operator=(const Recording &) = delete;

    Head *head() { return &head_; }
    Unpack *unpack() { return &unpack_; }

    // The samples of one channel as they stand now.
    Channel channel(size_t c) const {
        return Channel(unpack_.payload[c], unpack_.payload[c] + unpack_.frames);
    }

private:
    Head head_;
    Unpack unpack_;
};

// Everything logged while it lives, at every level, with a count of any piece of text.
class LogCapture : public test_support::LogCapture {
public:
    // Occurrences of needle anywhere in the log, overlapping ones included.
    size_t count(const std::string &needle) const {
        const std::string all = text();
        size_t found = 0;
        for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) ++found;
        return found;
    }
};

// read_signal_noise as a vector, releasing the array; an empty vector also for null.
inline std::vector<double> signal_noise(Head *head, Unpack *unpack) {
    double *values = read_signal_noise(head, unpack);
    if (values == nullptr) return {};
    std::vector<double> result(values, values + unpack->channel_count);
    delete[] values;
    return result;
}

// Equal doubles, where two NaNs count as equal.
inline bool same_value(double left, double right) {
    return (std::isnan(left) && std::isnan(right)) || left == right;
}

}  // namespace measure
