// WAV container walk, sample decoding, resampling and the signal measurements.
#include "sound.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include <soxr.h>

#include "clipping_histogram.h"
#include "detector_pass.h"
#include "fvad.h"
#include "libcommon.h"
#include "resampler_feed.h"

// ---- WAV container ---------------------------------------------------------------------------

namespace {

constexpr uint32_t chunk_fmt = 0x20746d66;   // "fmt "
constexpr uint32_t chunk_data = 0x61746164;  // "data"
constexpr uint64_t riff_header_size = 12;    // "RIFF", size, form type
constexpr uint64_t fmt_base_end = 24;        // chunk offset just past bits_per_sample
constexpr uint32_t fmt_size_plain = 16;
constexpr uint32_t fmt_size_with_extension = 18;

// Set while v_read_format walks a file: the walk is the one read_head makes, without its log
// lines (the check that follows writes them in their place).
thread_local bool quiet_walk = false;
#define WALK_LOG(level, ...)                     \
    do {                                         \
        if (!quiet_walk) LOG(level, __VA_ARGS__); \
    } while (0)

// Where the last 'fmt ' chunk before 'data' starts, for v_read_format; 0 while none was read.
thread_local uint64_t last_fmt_chunk = 0;
// Whether the walk came to a 'data' chunk's id, for v_read_format.
thread_local bool reached_data_chunk = false;

uint16_t read_u16(const unsigned char *bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t read_u32(const unsigned char *bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// true when need bytes starting at position lie inside the content. Offsets only, so no
// pointer is ever formed past the buffer; position never exceeds length + 2^33 here, so the
// sum for the message cannot wrap.
bool guard(uint64_t position, uint64_t need, uint64_t length) {
    if (position <= length && need <= length - position) {
        return true;
    }
    WALK_LOG(LOG_ERROR, "[parser ] Guard. Next %d bytes more then %d length (%d >= %d)",
        static_cast<int>(need), static_cast<int>(length), static_cast<int>(position + need),
        static_cast<int>(length));
    return false;
}

// The bytes of a file held whole in memory.
class ContentBytes final : public HeadBytes {
public:
    explicit ContentBytes(const unsigned char *content) : content_(content) {}
    const unsigned char *at(uint64_t position, uint64_t) override { return content_ + position; }

private:
    const unsigned char *content_;
};

// Fetches a field the walk has guarded, or ends the walk (quietly: the source knows why) when
// its bytes can't be had.
#define FIELD(bytes, position, count, name)                          \
    const unsigned char *name = (bytes).at((position), (count));      \
    if (name == nullptr) return false

// Reads the 'fmt ' chunk starting at chunk into head; next gets the position of the chunk
// that follows.
bool read_fmt_chunk(HeadBytes &bytes, uint64_t length, uint64_t chunk, Head *head,
                    uint64_t *next) {
    uint64_t at = chunk + 4;
    if (!guard(at, 4, length)) return false;
    FIELD(bytes, at, 4, fmt_size);
    head->fmt_size = read_u32(fmt_size);
    at += 4;
    if (!guard(at, 2, length)) return false;
    FIELD(bytes, at, 2, audio_format);
    head->audio_format = read_u16(audio_format);
    at += 2;
    if (!guard(at, 2, length)) return false;
    FIELD(bytes, at, 2, channels);
    head->channels = read_u16(channels);
    at += 2;
    if (!guard(at, 4, length)) return false;
    FIELD(bytes, at, 4, sample_rate);
    head->sample_rate = read_u32(sample_rate);
    at += 4;
    if (!guard(at, 4, length)) return false;
    FIELD(bytes, at, 4, byte_rate);
    head->byte_rate = read_u32(byte_rate);
    at += 4;
    if (!guard(at, 2, length)) return false;
    FIELD(bytes, at, 2, block_align);
    head->block_align = read_u16(block_align);
    at += 2;
    if (!guard(at, 2, length)) return false;
    FIELD(bytes, at, 2, bits_per_sample);
    head->bits_per_sample = read_u16(bits_per_sample);

    if (head->fmt_size == fmt_size_with_extension) {
        at = chunk + fmt_base_end;
        if (!guard(at, 2, length)) return false;
        FIELD(bytes, at, 2, extension);
        const uint16_t extension_size = read_u16(extension);
        at += 2;
        if (!guard(at, extension_size, length)) return false;
        *next = at + extension_size;
    } else if (head->fmt_size == fmt_size_plain) {
        *next = chunk + fmt_base_end;
    } else {
        // Larger chunks (WAVE_FORMAT_EXTENSIBLE declares 40) end where their size says; a
        // position past the content simply ends the walk.
        const uint64_t declared_end = 8 + static_cast<uint64_t>(head->fmt_size);
        *next = chunk + (declared_end > fmt_base_end ? declared_end : fmt_base_end);
    }
    return true;
}

}  // namespace

bool read_head_from(HeadBytes &bytes, uint64_t length, Head *head, uint64_t *data_offset) {
    std::memset(head, 0, sizeof(*head));
    *data_offset = 0;
    if (length < riff_header_size) {
        WALK_LOG(LOG_ERROR, "[parser ] Little content size for parse wav base struct");
        return false;
    }
    FIELD(bytes, 0, 4, riff);
    if (std::memcmp(riff, "RIFF", 4) != 0) {
        WALK_LOG(LOG_ERROR, "[parser ] Chunk: 0x04x not equals RIFF header");
        return false;
    }
    if (!guard(4, 4, length)) return false;
    FIELD(bytes, 4, 4, riff_size);
    head->riff_size = read_u32(riff_size);
    if (!guard(8, 4, length)) return false;
    FIELD(bytes, 8, 4, riff_format);
    head->riff_format = read_u32(riff_format);

    uint64_t position = riff_header_size;
    uint64_t data_at = 0;
    while (position < length) {
        const uint64_t chunk = position;
        if (!guard(chunk, 4, length)) return false;
        FIELD(bytes, chunk, 4, chunk_id);
        const uint32_t id = read_u32(chunk_id);

        if (id == chunk_fmt) {
            last_fmt_chunk = chunk;
            if (!read_fmt_chunk(bytes, length, chunk, head, &position)) return false;
        } else if (id == chunk_data) {
            reached_data_chunk = true;
            if (!guard(chunk + 4, 4, length)) return false;
            FIELD(bytes, chunk + 4, 4, data_size);
            head->data_size = read_u32(data_size);
            if (!guard(chunk + 8, head->data_size, length)) return false;
            data_at = chunk + 8;
            break;  // nothing after the first 'data' chunk matters
        } else {
            WALK_LOG(LOG_NOTICE, "[parser ] Skip unknown chunk: 0x%04x", id);
            if (!guard(chunk + 4, 4, length)) return false;
            FIELD(bytes, chunk + 4, 4, chunk_size);
            const uint32_t size = read_u32(chunk_size);
            if (!guard(chunk + 8, size, length)) return false;
            position = chunk + 8 + size;
            // RIFF pads odd payloads to an even size with one zero byte.
            if ((size & 1u) != 0 && position < length) {
                FIELD(bytes, position, 1, pad);
                if (pad[0] == 0) ++position;
            }
        }
    }

    if (head->data_size == 0 || head->byte_rate == 0) {
        WALK_LOG(LOG_ERROR, "[parser] Data size was %d or byte per second is %d",
            static_cast<int>(head->data_size), static_cast<int>(head->byte_rate));
        return false;
    }
    *data_offset = data_at;
    // Single-precision division, as the duration has always been computed.
    head->duration = static_cast<double>(static_cast<float>(head->data_size) /
                                         static_cast<float>(head->byte_rate));
    return true;
}

#undef FIELD

bool read_head(const unsigned char *content, uint64_t length, Head *head) {
    ContentBytes bytes(content);
    uint64_t data_offset = 0;
    if (!read_head_from(bytes, length, head, &data_offset)) return false;
    head->data = content + data_offset;
    return true;
}

bool read_head_quietly(const unsigned char *content, uint64_t length, Head *head, uint64_t *fmt_chunk,
                       bool *reached_data) {
    quiet_walk = true;
    last_fmt_chunk = 0;
    reached_data_chunk = false;
    const bool usable = read_head(content, length, head);
    quiet_walk = false;
    *fmt_chunk = last_fmt_chunk;
    *reached_data = reached_data_chunk;
    return usable;
}

void copy_head(Head *destination, const Head *source) {
    *destination = *source;
    destination->data = nullptr;
    destination->name = nullptr;
}

// ---- Decoded samples -------------------------------------------------------------------------

namespace {

// malloc/calloc never get a zero size, so a null result always means exhausted memory.
double *allocate_doubles(uint64_t count, bool zeroed) {
    const uint64_t entries = count == 0 ? 1 : count;
    if (entries > SIZE_MAX / sizeof(double)) return nullptr;
    void *memory = zeroed ? std::calloc(entries, sizeof(double))
                          : std::malloc(entries * sizeof(double));
    return static_cast<double *>(memory);
}

// An array of channel pointers, all null.
double **allocate_channels(uint64_t count) {
    const uint64_t entries = count == 0 ? 1 : count;
    if (entries > SIZE_MAX / sizeof(double *)) return nullptr;
    return static_cast<double **>(std::calloc(entries, sizeof(double *)));
}

void free_channels(double **channels, uint64_t count) {
    if (channels == nullptr) return;
    for (uint64_t c = 0; c < count; ++c) std::free(channels[c]);
    std::free(channels);
}

// count new arrays of frames doubles each; null (nothing left allocated) when memory runs out.
double **allocate_channel_arrays(uint64_t count, uint64_t frames, bool zeroed) {
    double **channels = allocate_channels(count);
    if (channels == nullptr) return nullptr;
    for (uint64_t c = 0; c < count; ++c) {
        channels[c] = allocate_doubles(frames, zeroed);
        if (channels[c] == nullptr) {
            free_channels(channels, c);
            return nullptr;
        }
    }
    return channels;
}

// One sample as a signed 16-bit little-endian number from the payload at offset; a byte past
// the payload counts as 0.
double decode_sample(const unsigned char *data, uint64_t data_size, uint64_t offset) {
    const unsigned low = offset < data_size ? data[offset] : 0u;
    const unsigned high = offset + 1 < data_size ? data[offset + 1] : 0u;
    return static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8))));
}

// Where a channel's samples lie in each frame of the payload.
struct SampleLayout {
    uint64_t bytes_per_sample;
    uint64_t sample_skip;
};

SampleLayout layout_of(const Head *head) {
    const uint64_t bytes_per_sample = head->bits_per_sample / 8;
    // Deeper samples keep their two most significant bytes, the 16-bit view of the value.
    const uint64_t sample_skip =
        head->bits_per_sample > 16 && bytes_per_sample >= 2 ? bytes_per_sample - 2 : 0;
    return {bytes_per_sample, sample_skip};
}

// Below this rate the resampling to 8000 Hz would make more than 8 samples of each one.
constexpr uint32_t lowest_bounded_rate = 1000;

// The resampler keeps a fixed state for every channel, from about 80 KB at common rates to about
// 600 KB for absurd ones, and takes up to ~13 ms to set it up. Up to this many channels that is
// a small constant; beyond it each channel must bring enough payload to pay for its state.
constexpr uint32_t channels_without_minimum = 32;
constexpr uint64_t payload_bytes_per_extra_channel = 16384;

}  // namespace

bool unpack_is_bounded(const Head *head) {
    // Every standard 8-, 16-, 24- and 32-bit layout has at least one payload byte per sample,
    // whatever the channel count; a header that claims more (sub-byte samples over many
    // channels, channels that start outside their frame) would decode far more than it holds.
    const uint64_t frames = head->data_size / head->block_align;
    const uint64_t samples = frames * head->channels;
    if (samples > head->data_size) {
        LOG(LOG_WARN, "[unpack] %llu samples declared in %u payload bytes",
            static_cast<unsigned long long>(samples), static_cast<unsigned>(head->data_size));
        return false;
    }
    if (head->channels > channels_without_minimum &&
        head->data_size / head->channels < payload_bytes_per_extra_channel) {
        LOG(LOG_WARN, "[unpack] %u channels in %u payload bytes: fewer than %u bytes each",
            static_cast<unsigned>(head->channels), static_cast<unsigned>(head->data_size),
            static_cast<unsigned>(payload_bytes_per_extra_channel));
        return false;
    }
    if (head->sample_rate != 0 && head->sample_rate < lowest_bounded_rate) {
        LOG(LOG_WARN, "[unpack] Sample rate %u Hz is below %u Hz",
            static_cast<unsigned>(head->sample_rate), static_cast<unsigned>(lowest_bounded_rate));
        return false;
    }
    return true;
}

bool frames_are_decodable(const Head *head) {
    return head->block_align != 0 && unpack_is_bounded(head);
}

bool payload_is_decodable(const Head *head) {
    if (!frames_are_decodable(head)) return false;
    return head->data != nullptr || head->data_size == 0;
}

void decode_channel(const Head *head, uint64_t channel, uint64_t first, uint64_t count,
                    double *samples) {
    const SampleLayout layout = layout_of(head);
    uint64_t offset =
        first * head->block_align + channel * layout.bytes_per_sample + layout.sample_skip;
    const uint64_t last = count == 0 ? 0 : offset + (count - 1) * head->block_align;
    if (count != 0 && last + 1 < head->data_size) {
        // Every byte inside the payload: the same values without the test for each.
        const unsigned char *at = head->data + offset;
        for (uint64_t i = 0; i < count; ++i, at += head->block_align) {
            samples[i] = static_cast<double>(
                static_cast<int16_t>(static_cast<uint16_t>(at[0] | (at[1] << 8))));
        }
        return;
    }
    for (uint64_t i = 0; i < count; ++i, offset += head->block_align) {
        samples[i] = decode_sample(head->data, head->data_size, offset);
    }
}

bool read_unpack(const Head *head, Unpack *unpack) {
    if (head == nullptr || unpack == nullptr) return false;
    std::memset(unpack, 0, sizeof(*unpack));
    if (!payload_is_decodable(head)) return false;

    const uint64_t bytes_per_sample = layout_of(head).bytes_per_sample;
    const uint64_t sample_skip = layout_of(head).sample_skip;
    const uint64_t frames = head->data_size / head->block_align;
    const uint64_t channels = head->channels;

    double *times = allocate_doubles(frames, false);
    double **payload = allocate_channel_arrays(channels, frames, false);
    if (times == nullptr || payload == nullptr) {
        std::free(times);
        free_channels(payload, channels);
        return false;
    }

    for (uint64_t i = 0; i < frames; ++i) {
        times[i] = static_cast<double>(i) / head->sample_rate;
        const uint64_t frame = i * head->block_align;
        for (uint64_t c = 0; c < channels; ++c) {
            payload[c][i] =
                decode_sample(head->data, head->data_size, frame + c * bytes_per_sample + sample_skip);
        }
    }

    unpack->times = times;
    unpack->times_count = frames;
    unpack->payload = payload;
    unpack->channel_count = channels;
    unpack->frames = frames;
    return true;
}

bool free_unpack(Unpack *unpack) {
    if (unpack == nullptr) return true;
    std::free(unpack->times);
    unpack->times = nullptr;
    unpack->times_count = 0;
    if (unpack->payload == nullptr) return true;
    for (uint64_t c = 0; c < unpack->channel_count; ++c) {
        std::free(unpack->payload[c]);
        unpack->payload[c] = nullptr;
    }
    std::free(unpack->payload);
    unpack->payload = nullptr;
    unpack->channel_count = 0;
    unpack->frames = 0;
    return true;
}

void copy_unpack(Unpack *destination, const Unpack *source) {
    if (destination == nullptr) return;
    std::memset(destination, 0, sizeof(*destination));
    if (source == nullptr) return;

    double **payload = nullptr;
    if (source->payload != nullptr) {
        payload = allocate_channel_arrays(source->channel_count, source->frames, false);
        if (payload == nullptr) return;
        for (uint64_t c = 0; c < source->channel_count; ++c) {
            if (source->payload[c] != nullptr && source->frames != 0) {
                std::memcpy(payload[c], source->payload[c], source->frames * sizeof(double));
            }
        }
    }
    double *times = nullptr;
    if (source->times != nullptr) {
        times = allocate_doubles(source->times_count, false);
        if (times == nullptr) {
            free_channels(payload, source->channel_count);
            return;
        }
        if (source->times_count != 0) {
            std::memcpy(times, source->times, source->times_count * sizeof(double));
        }
    }

    destination->payload = payload;
    destination->channel_count = source->channel_count;
    destination->frames = source->frames;
    destination->times = times;
    destination->times_count = source->times_count;
}

ResampledChannels resample_channels(double *const *input, uint64_t channels, uint64_t frames,
                                    uint32_t from, uint32_t to) {
    ResampledChannels result{nullptr, 0, nullptr};
    if (from == 0) {
        result.error = resample_error_rate_zero;
        return result;
    }
    uint64_t output_length = 0;
    const bool representable = resampled_length(frames, from, to, &output_length);
    soxr_t resampler = create_resampler(from, to, static_cast<unsigned>(channels));

    double **output = representable ? allocate_channel_arrays(channels, output_length, true)
                                    : nullptr;
    // Where the next block starts in each channel: soxr takes separate channels as an array of
    // pointers.
    const void **in = new (std::nothrow) const void *[channels == 0 ? 1 : channels];
    void **out = new (std::nothrow) void *[channels == 0 ? 1 : channels];
    if (output == nullptr || in == nullptr || out == nullptr) {
        result.error = resample_error_memory;
        // The output arrays, when they were made, go back to the caller as what was produced.
        result.channels = output;
    } else {
        uint64_t produced = 0;
        result.error = feed_in_blocks(
            resampler, frames, resample_block_frames_for(from, to), output_length,
            [&](uint64_t consumed, uint64_t, uint64_t made_so_far, uint64_t remaining) {
                for (uint64_t c = 0; c < channels; ++c) {
                    in[c] = input[c] + consumed;
                    out[c] = output[c] + made_so_far;
                }
                return FeedStep{in, out, static_cast<size_t>(remaining)};
            },
            [](size_t) {}, &produced);
        result.channels = output;
        result.frames = produced;
    }
    delete[] in;
    delete[] out;
    soxr_delete(resampler);
    return result;
}

void free_resampled(ResampledChannels *resampled, uint64_t channels) {
    free_channels(resampled->channels, channels);
    resampled->channels = nullptr;
    resampled->frames = 0;
}

void log_resample_error(const char *name, const char *error) {
    LOG(LOG_WARN, "[library] ReSample for \"%s\" error: %s", name != nullptr ? name : "unknown",
        error);
}

// Resamples every channel of unpack from head's rate to rate. Errors are logged, never
// returned: the record then holds what the resampler produced, possibly nothing.
[[maybe_unused]] static void resample_payload(Head *head, Unpack *unpack, uint32_t rate) {
    // New arrays are made for head's channels and fed from unpack's; a mismatch would read
    // past the channel array.
    const bool matching = head->channels == unpack->channel_count &&
                          (unpack->payload != nullptr || unpack->channel_count == 0);
    if (head->sample_rate != 0 && !matching) {
        log_resample_error(head->name, "channel count does not match the samples");
        unpack->frames = 0;
        head->sample_rate = rate;
        return;
    }
    ResampledChannels resampled = resample_channels(unpack->payload, head->channels,
                                                    unpack->frames, head->sample_rate, rate);
    if (resampled.error != nullptr) {
        log_resample_error(head->name, resampled.error);
    }
    if (resampled.channels == nullptr) {
        unpack->frames = 0;
        head->sample_rate = rate;
        return;
    }
    free_channels(unpack->payload, unpack->channel_count);
    unpack->payload = resampled.channels;
    unpack->frames = resampled.frames;
    head->sample_rate = rate;
}

// Root mean square of count values; NaN for none.
[[maybe_unused]] static double get_root_mean_square(const double *values, uint32_t count) {
    SquareSum squares;
    squares.add(values, count);
    return squares.root_mean_square(count);
}

// ---- Signal measurements ---------------------------------------------------------------------

namespace {

// The histogram of one channel never needs more bins than this: decoded samples span 65,536
// values; anything wider is not a decoded recording and is refused rather than allocated.
constexpr uint64_t max_histogram_bins = uint64_t{1} << 20;

// Sample positions are 32-bit; a longer channel is measured over its first 2^32 - 1 samples
// rather than over a count that wrapped.
uint32_t frame_count_of(const Unpack &unpack) {
    return unpack.frames > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(unpack.frames);
}

// true when copy_unpack ran out of memory: the copy then holds no arrays at all.
bool copy_failed(const Unpack &source, const Unpack &copy) {
    return (source.payload != nullptr && copy.payload == nullptr) ||
           (source.times != nullptr && copy.times == nullptr);
}

// Working copies at the detector's rate. false when the copy could not be made.
bool working_copy_at_detector_rate(const Head *head, const Unpack *unpack, Head *head_copy,
                                   Unpack *unpack_copy) {
    copy_head(head_copy, head);
    copy_unpack(unpack_copy, unpack);
    if (copy_failed(*unpack, *unpack_copy)) return false;
    if (head_copy->sample_rate != detector_rate) {
        resample_payload(head_copy, unpack_copy, detector_rate);
    }
    return true;
}

}  // namespace

void log_bad_sample_rate() {
    LOG(LOG_ERROR, "[library] Bad sample rate");
}

void log_frame_error(uint32_t position) {
    LOG(LOG_WARN, "Ошибка фрейма %d", static_cast<int>(position));
}

void log_overload_memory() {
    LOG(LOG_ERROR, "[library] Not enough memory for the overload estimate");
}

double get_filtered_duration(Head *head, Unpack *unpack) {
    if (head == nullptr || unpack == nullptr) return 0.0;
    Head working_head;
    Unpack working;
    if (!working_copy_at_detector_rate(head, unpack, &working_head, &working)) {
        free_unpack(&working);
        log_bad_sample_rate();
        return -1.0;
    }
    // The working copy is always at the detector's rate.
    const uint32_t rate = working_head.sample_rate;
    int16_t *frame = new (std::nothrow) int16_t[detector_frame_length];
    Fvad *detector = frame != nullptr ? open_detector(rate) : nullptr;
    if (detector == nullptr) {
        delete[] frame;
        free_unpack(&working);
        log_bad_sample_rate();
        return -1.0;
    }

    uint32_t longest_voiced = 0;
    if (working.channel_count != 0 && working.payload != nullptr) {
        DetectorFrames frames(detector, frame, nullptr);
        for (uint64_t c = 0; c < working.channel_count; ++c) {
            frames.start_channel();
            frames.push(working.payload[c], frame_count_of(working));
            longest_voiced = std::max(longest_voiced, frames.figures().voiced_count);
        }
    }

    fvad_free(detector);
    delete[] frame;
    free_unpack(&working);
    return static_cast<double>(longest_voiced) / static_cast<double>(rate);
}

double *read_signal_noise(Head *head, Unpack *unpack) {
    if (head == nullptr || unpack == nullptr) {
        log_bad_sample_rate();
        return nullptr;
    }
    const uint64_t channels = unpack->channel_count;
    double *result = new (std::nothrow) double[channels];
    if (result == nullptr) {
        log_bad_sample_rate();
        return nullptr;
    }

    Head working_head;
    Unpack working;
    const bool copied = working_copy_at_detector_rate(head, unpack, &working_head, &working);
    const uint32_t rate = working_head.sample_rate;
    const uint32_t frames = frame_count_of(working);
    double *speech = nullptr;
    double *noise = nullptr;
    int16_t *frame = nullptr;
    Fvad *detector = nullptr;
    if (copied) {
        speech = new (std::nothrow) double[frames == 0 ? 1 : frames];
        noise = new (std::nothrow) double[frames == 0 ? 1 : frames];
        frame = new (std::nothrow) int16_t[detector_frame_length];
        if (speech != nullptr && noise != nullptr && frame != nullptr) {
            detector = open_detector(rate);
        }
    }
    if (detector == nullptr) {
        delete[] frame;
        delete[] noise;
        delete[] speech;
        free_unpack(&working);
        log_bad_sample_rate();
        for (uint64_t c = 0; c < channels; ++c) result[c] = -1.0;
        return result;
    }

    const bool usable = working.payload != nullptr && working.channel_count == channels;
    DetectorFrames detector_frames(detector, frame, log_frame_error);
    detector_frames.collect_into(speech, noise);
    for (uint64_t c = 0; c < channels; ++c) {
        result[c] = 0.0;
        if (!usable) continue;
        detector_frames.start_channel();
        detector_frames.push(working.payload[c], frames);
        const ChannelFigures &figures = detector_frames.figures();
        if (figures.noise_count == 0) continue;

        // No speech gives 0/0 and silent noise gives S/0: NaN and +inf are the answers then.
        const double s = get_root_mean_square(speech, figures.speech_count);
        const double z = get_root_mean_square(noise, figures.noise_count);
        const double q = s / z;
        result[c] = 10.0 * std::log10(q * q);
    }

    fvad_free(detector);
    delete[] frame;
    delete[] noise;
    delete[] speech;
    free_unpack(&working);
    return result;
}

void create_hist(double minimum, const double *samples, unsigned long count,
                 unsigned long *histogram, unsigned long bin_count) {
    for (unsigned long i = 0; i < count; ++i) {
        const double offset = samples[i] - minimum;
        // A sample outside the bins is left out rather than counted somewhere else in memory.
        if (!(offset > -1.0 && offset < static_cast<double>(bin_count) &&
              offset < 2147483648.0)) {
            continue;
        }
        ++histogram[static_cast<int32_t>(offset)];
    }
}

namespace {

// The clipping coefficient of one channel into coefficient. false, with a log line, when the
// channel can't be measured: samples that aren't finite or span too wide a range, or no memory
// for the histogram.
bool measure_clipping(const double *samples, unsigned long count, double *coefficient) {
    *coefficient = 0.0;
    if (samples == nullptr || count == 0) return true;

    double largest = samples[0];
    double smallest = samples[0];
    bool finite = true;
    for (unsigned long i = 0; i < count; ++i) {
        finite = finite && std::isfinite(samples[i]);
        if (samples[i] > largest) largest = samples[i];
        if (samples[i] < smallest) smallest = samples[i];
    }
    const double span = largest - smallest + 1.0;
    if (!finite || !(span < static_cast<double>(max_histogram_bins + 1))) {
        LOG(LOG_ERROR, "[library] Samples span too wide a range for the overload estimate");
        return false;
    }
    const uint64_t bins = static_cast<uint64_t>(span);

    unsigned long *histogram = new (std::nothrow) unsigned long[bins]();
    if (histogram == nullptr) {
        log_overload_memory();
        return false;
    }
    create_hist(smallest, samples, count, histogram, bins);
    *coefficient = histogram_clipping_coefficient(histogram, bins);
    delete[] histogram;
    return true;
}

}  // namespace

// A channel that can't be measured counts as fully clipped, so it fails the check.
double estimate_clipping_coefficient(const double *samples, unsigned long count) {
    double coefficient = 0.0;
    return measure_clipping(samples, count, &coefficient) ? coefficient : 1.0;
}

double get_overloading_value(const Unpack *unpack) {
    if (unpack == nullptr || unpack->payload == nullptr || unpack->channel_count == 0) {
        return 0.0;
    }
    double *coefficients = new (std::nothrow) double[unpack->channel_count];
    if (coefficients == nullptr) {
        log_overload_memory();
        return 1.0;
    }
    for (uint64_t c = 0; c < unpack->channel_count; ++c) {
        // One channel that can't be measured makes the whole recording count as clipped: the
        // smallest of the others would understate it.
        if (!measure_clipping(unpack->payload[c], unpack->frames, &coefficients[c])) {
            delete[] coefficients;
            return 1.0;
        }
    }
    const double smallest = smallest_coefficient(coefficients, unpack->channel_count);
    delete[] coefficients;
    return smallest;
}

double get_telephony_border(const Head *head, const Unpack *unpack) {
    if (head == nullptr || unpack == nullptr || unpack->channel_count == 0) return 0.0;

    // The whole record, name included, so a resampling error names the sound.
    Head working_head = *head;
    Unpack working;
    copy_unpack(&working, unpack);
    if (copy_failed(*unpack, working)) {
        free_unpack(&working);
        log_bad_sample_rate();
        return -1.0;
    }
    // Always through the resampler, even from 8000 Hz to 8000 Hz.
    resample_payload(&working_head, &working, detector_rate);
    double *per_channel = read_signal_noise(&working_head, &working);
    free_unpack(&working);
    if (per_channel == nullptr) return -1.0;
    const double first = per_channel[0];
    delete[] per_channel;
    return first;
}
