// Arbitrary bytes through the WAV walk, and the headers a configured session would accept
// through decoding, copying and resampling. The unit is compiled in to reach the resampler.
#include "sound.cpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

constexpr uint16_t max_channels = 8;
constexpr uint32_t min_rate = 1000;
constexpr uint32_t max_rate = 384000;
constexpr uint64_t max_decoded_bytes = uint64_t{64} << 20;

bool silence_log() {
    log_init(LOG_ERROR + 1, std::fopen("/dev/null", "w"), 0, 0);
    return true;
}

// The sizes a pipeline with sane limits would go on to decode.
bool worth_decoding(const Head &head) {
    if (head.channels > max_channels || head.sample_rate < min_rate || head.sample_rate > max_rate) {
        return false;
    }
    if (head.block_align == 0) return true;  // read_unpack refuses it; that path is wanted too
    const uint64_t frames = head.data_size / head.block_align;
    return frames * (head.channels + 1u) * sizeof(double) <= max_decoded_bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool silenced = silence_log();
    (void)silenced;
    if (size == 0) return 0;

    Head head;
    if (!read_head(data, size, &head) || !worth_decoding(head)) return 0;

    Unpack decoded;
    if (read_unpack(&head, &decoded)) {
        Head copy_of_head;
        copy_head(&copy_of_head, &head);
        Unpack copy;
        copy_unpack(&copy, &decoded);
        resample_payload(&copy_of_head, &copy, 8000);
        if (copy.frames != 0 && copy.channel_count != 0) {
            (void)get_root_mean_square(copy.payload[0], static_cast<uint32_t>(copy.frames));
        }
        free_unpack(&copy);
    }
    free_unpack(&decoded);
    return 0;
}
