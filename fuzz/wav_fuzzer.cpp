// Arbitrary bytes through the WAV walk, then every parsed header through decoding, copying and
// resampling: decoding bounds its own work, so no header is kept away from it. The unit is
// compiled in to reach the resampler.
#include "sound.cpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

bool silence_log() {
    log_init(LOG_ERROR + 1, std::fopen("/dev/null", "w"), 0, 0);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool silenced = silence_log();
    (void)silenced;
    if (size == 0) return 0;

    Head head;
    if (!read_head(data, size, &head)) return 0;

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
