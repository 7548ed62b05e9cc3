#include "resampler_feed.h"

soxr_t create_resampler(uint32_t from, uint32_t to, unsigned channels) {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io_spec = soxr_io_spec(SOXR_FLOAT64_S, SOXR_FLOAT64_S);
    return soxr_create(from, to, channels, &error, &io_spec, nullptr, nullptr);
}
