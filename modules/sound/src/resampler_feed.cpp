#include "resampler_feed.h"

#include <cmath>

namespace {

// What one call can hand back beyond its block's share: the filter's delay comes out in the
// first calls.
constexpr uint64_t output_slack = 4096;

}  // namespace

soxr_t create_resampler(uint32_t from, uint32_t to, unsigned channels) {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io_spec = soxr_io_spec(SOXR_FLOAT64_S, SOXR_FLOAT64_S);
    return soxr_create(from, to, channels, &error, &io_spec, nullptr, nullptr);
}

uint64_t one_channel_output_room(uint64_t frames, uint32_t from, uint32_t to) {
    uint64_t output_length = 0;
    if (from == 0 || !resampled_length(frames, from, to, &output_length)) return 1;
    const double per_block = std::ceil(static_cast<double>(resample_block_frames_for(from, to)) *
                                       to / static_cast<double>(from));
    return std::max<uint64_t>(
        1, std::min(output_length, static_cast<uint64_t>(per_block) + output_slack));
}
