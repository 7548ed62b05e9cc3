// libsoxr fed in blocks: the one loop every resampling of the library runs, whether the input
// is a decoded array or decoded from the payload block by block, and wherever the output goes.
#pragma once

#include <soxr.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

// Input frames per soxr_process call when the rate goes down. libsoxr is far faster fed in
// blocks than handed a long signal at once, and a stream fed in pieces comes out sample for
// sample the same.
constexpr uint64_t resample_block_frames = 65536;

// Input frames per call from rate from to rate to: resample_block_frames, or fewer when the
// rate goes up, so one call never makes much more than resample_block_frames samples.
inline uint64_t resample_block_frames_for(uint32_t from, uint32_t to) {
    if (from == 0 || from >= to) return resample_block_frames;
    return std::max<uint64_t>(1, resample_block_frames * from / to);
}

namespace {

// Samples per channel that resampling frames from rate from to rate to yields, rounded to the
// nearest; false when the count would not fit in 64 bits.
inline bool resampled_length(uint64_t frames, uint32_t from, uint32_t to, uint64_t *length) {
    const double wanted = static_cast<double>(frames) * (to / static_cast<double>(from)) + 0.5;
    if (!(wanted < 18446744073709551616.0)) {  // 2^64
        *length = 0;
        return false;
    }
    *length = static_cast<uint64_t>(wanted);
    return true;
}

}  // namespace

// The texts the resampling of a channel fails with before libsoxr is reached.
constexpr const char resample_error_rate_zero[] = "input sample rate is 0";
constexpr const char resample_error_memory[] = "out of memory";

// A resampler of separate channels of doubles from rate from to rate to; null when libsoxr
// can't make one (the feed then reports its error).
soxr_t create_resampler(uint32_t from, uint32_t to, unsigned channels);

// Where one soxr_process call reads and writes: a pointer per channel to the block's input,
// and to room for at most room output samples per channel.
struct FeedStep {
    soxr_cbufs_t in;
    void **out;
    size_t room;
};

// Feeds frames input frames to resampler in blocks of block_frames, never asking for
// more than output_length samples per channel in all. prepare(consumed, block, produced,
// remaining) names the buffers of the next call; deliver(made) is told what it produced. The
// error text of a failed call, or null; produced counts the samples delivered per channel.
template <typename Prepare, typename Deliver>
const char *feed_in_blocks(soxr_t resampler, uint64_t frames, uint64_t block_frames,
                           uint64_t output_length, Prepare &&prepare, Deliver &&deliver,
                           uint64_t *produced) {
    *produced = 0;
    const char *error = nullptr;
    uint64_t consumed = 0;
    do {
        const uint64_t block = std::min(frames - consumed, block_frames);
        const FeedStep step = prepare(consumed, block, *produced, output_length - *produced);
        size_t used = 0;
        size_t made = 0;
        error = soxr_process(resampler, step.in, block, &used, step.out, step.room, &made);
        if (error != nullptr) break;
        deliver(made);
        consumed += used;
        *produced += made;
        if (used == 0 && made == 0) break;  // nothing moves any more
    } while (consumed < frames);
    return error;
}

// Output room resample_one_channel needs for frames input frames from rate from to rate to:
// one block's worth at the ratio, with slack for what the filter holds back at first, and never
// more than the whole resampled channel. At least 1.
uint64_t one_channel_output_room(uint64_t frames, uint32_t from, uint32_t to);

// One channel resampled from rate from to rate to exactly as resample_channels resamples each
// of its channels: a resampler of its own, the same blocks, the same calls, the same limit on
// the output; libsoxr works on every channel apart, so the samples come out the same bit for
// bit. decode(first, count) fills input with the channel's frames first to first + count - 1
// (input holds resample_block_frames_for(from, to)); deliver(output, made) gets what each call produced
// (output holds output_room, from one_channel_output_room). The error text, or null.
template <typename Decode, typename Deliver>
const char *resample_one_channel(uint64_t frames, uint32_t from, uint32_t to, double *input,
                                 double *output, uint64_t output_room, Decode &&decode,
                                 Deliver &&deliver) {
    if (from == 0) return resample_error_rate_zero;
    uint64_t output_length = 0;
    // Where all channels are resampled at once, no array could hold this channel.
    if (!resampled_length(frames, from, to, &output_length)) return resample_error_memory;
    soxr_t resampler = create_resampler(from, to, 1);
    const void *in[] = {input};
    void *out[] = {output};
    uint64_t produced = 0;
    const char *error = feed_in_blocks(
        resampler, frames, resample_block_frames_for(from, to), output_length,
        [&](uint64_t consumed, uint64_t block, uint64_t, uint64_t remaining) {
            decode(consumed, block);
            return FeedStep{in, out, static_cast<size_t>(std::min(remaining, output_room))};
        },
        [&](size_t made) { deliver(static_cast<const double *>(output), made); }, &produced);
    soxr_delete(resampler);
    return error;
}
