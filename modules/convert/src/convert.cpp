// Decoding with libsndfile over the caller's bytes, streamed in blocks into the one output buffer.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "format_name.h"
#include "sonara_convert.h"
#include "wav_probe.h"

namespace sonara_decoding {
namespace {

// The largest WAV whose RIFF size (36 + data) still fits 32 bits.
constexpr size_t kRiffLimit = static_cast<size_t>(UINT32_MAX) - 36U + SONARA_CONVERT_HEADER_SIZE;
// Frames are decoded in blocks of this many samples (all channels together).
constexpr size_t kBlockSamples = 16384;
// The first allocation holds at least this many frames.
constexpr size_t kBlockFrames = 4096;
// The frame count a file claims sizes the first allocation only up to this much per input byte
// (plus a floor): a claim is a hint, the buffer grows by doubling as frames actually arrive.
constexpr size_t kClaimPerInputByte = 32;
constexpr size_t kClaimFloor = size_t{1} << 20;

// libsndfile keeps the error of a failed open in one process-wide variable; opening under this
// lock keeps each failed open paired with its own text when conversions run on several threads.
std::mutex open_lock;

// libsndfile hands every format over as floats on its normalised scale (full scale at +-1.0):
// integer-coded samples exactly (v / 2^(bits-1)), float samples as stored. Its own float-to-16-bit
// reading scales float files by 1, not 32768 (a float WAV at -6 dBFS reads as zeros), and its
// Vorbis reader converts without saturating, so the 16-bit value is made here: x 32768, rounded
// to nearest, saturated at both ends of the range (clipping, never wrapping); NaN reads as 0.
short to_sample(float value) {
    if (std::isnan(value)) return 0;
    const float scaled = value * 32768.0f;
    if (scaled >= 32767.0f) return INT16_MAX;
    if (scaled <= -32768.0f) return INT16_MIN;
    return static_cast<short>(std::lrint(scaled));
}

struct MemoryFile {
    const unsigned char *data;
    sf_count_t size;
    sf_count_t position;
};

sf_count_t memory_length(void *user) { return static_cast<MemoryFile *>(user)->size; }

sf_count_t memory_seek(sf_count_t offset, int whence, void *user) {
    auto *file = static_cast<MemoryFile *>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = file->position;
    else if (whence == SEEK_END) base = file->size;
    else if (whence != SEEK_SET) return -1;
    // Kept within [0, size] without overflowing on an absurd offset.
    if (offset < -base) return -1;
    if (offset > file->size - base) offset = file->size - base;
    file->position = base + offset;
    return file->position;
}

sf_count_t memory_read(void *destination, sf_count_t count, void *user) {
    auto *file = static_cast<MemoryFile *>(user);
    if (count <= 0) return 0;
    const sf_count_t available = file->size - file->position;
    const sf_count_t taken = std::min(count, available);
    std::memcpy(destination, file->data + file->position, static_cast<size_t>(taken));
    file->position += taken;
    return taken;
}

sf_count_t memory_write(const void *, sf_count_t, void *) { return 0; }

sf_count_t memory_tell(void *user) { return static_cast<MemoryFile *>(user)->position; }

void set_text(char *field, size_t capacity, const std::string &text) {
    const size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

int fail(SonaraConversion *out, int code, const std::string &text) {
    std::free(out->wav);
    out->wav = nullptr;
    out->wav_size = 0;
    out->converted = false;
    set_text(out->error, sizeof out->error, text);
    return code;
}

struct SndFile {
    SNDFILE *handle = nullptr;
    ~SndFile() {
        if (handle != nullptr) sf_close(handle);
    }
};

// Codecs that fill their last block with padding frames: a WAV 'fact' chunk says where the
// recording really ends.
bool pads_last_block(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_G721_32:
    case SF_FORMAT_G723_24:
    case SF_FORMAT_G723_40: return true;
    default: return false;
    }
}

// Where a block-coded WAV really ends: its 'fact' length, believed only when it cuts at most one
// block from what libsndfile counts, which includes the padded last block (some writers put a
// padded or a per-channel count there, and those are left alone).
size_t end_of_recording(const WavProbe &probe, const SF_INFO &info) {
    if (!pads_last_block(info.format) || probe.fact_frames == 0 || probe.frames_per_block == 0) return SIZE_MAX;
    if (info.frames <= 0 || static_cast<uint64_t>(info.frames) <= probe.fact_frames) return SIZE_MAX;
    if (static_cast<uint64_t>(info.frames) - probe.fact_frames > probe.frames_per_block) return SIZE_MAX;
    return probe.fact_frames;
}

int decode(const unsigned char *content, size_t size, const WavProbe &probe, size_t max_wav_size,
           SonaraConversion *out) {
    MemoryFile memory{content, static_cast<sf_count_t>(size), 0};
    SF_VIRTUAL_IO io{memory_length, memory_seek, memory_read, memory_write, memory_tell};
    SF_INFO info{};
    SndFile file;
    {
        std::lock_guard<std::mutex> guard(open_lock);
        file.handle = sf_open_virtual(&io, SFM_READ, &info, &memory);
        if (file.handle == nullptr) {
            return fail(out, SONARA_CONVERT_UNREADABLE, std::string("libsndfile: ") + sf_strerror(nullptr));
        }
    }
    set_text(out->source_format, sizeof out->source_format, format_name(info.format));

    if (info.channels <= 0 || info.channels > INT16_MAX || info.samplerate <= 0 ||
        static_cast<uint64_t>(info.samplerate) * static_cast<uint64_t>(info.channels) * 2U > UINT32_MAX) {
        return fail(out, SONARA_CONVERT_NOT_WAV_SHAPED,
                    "a WAV header cannot hold " + std::to_string(info.channels) + " channels at " +
                        std::to_string(info.samplerate) + " Hz");
    }
    const size_t frame_bytes = static_cast<size_t>(info.channels) * 2U;
    const size_t limit = max_wav_size == 0 ? kRiffLimit : std::min(max_wav_size, kRiffLimit);
    if (limit < SONARA_CONVERT_HEADER_SIZE) {
        return fail(out, SONARA_CONVERT_TOO_LARGE, "the limit of " + std::to_string(limit) +
                                                       " bytes leaves no room for a WAV header");
    }
    // Whole frames only: the data never ends in part of a frame.
    const size_t max_frames = (limit - SONARA_CONVERT_HEADER_SIZE) / frame_bytes;

    size_t claimed = 0;
    if (info.frames > 0 && static_cast<uint64_t>(info.frames) <= max_frames) claimed = static_cast<size_t>(info.frames);
    const size_t hint_cap = size > (SIZE_MAX - kClaimFloor) / kClaimPerInputByte
                                ? SIZE_MAX
                                : size * kClaimPerInputByte + kClaimFloor;
    // A true claim fits with the one spare frame that shows the end was reached.
    size_t capacity_frames = std::max<size_t>(std::min(claimed, hint_cap / frame_bytes) + 1, kBlockFrames);
    capacity_frames = std::min(capacity_frames, max_frames + 1);

    auto *buffer = static_cast<unsigned char *>(std::malloc(SONARA_CONVERT_HEADER_SIZE + capacity_frames * frame_bytes));
    if (buffer == nullptr) return fail(out, SONARA_CONVERT_NO_MEMORY, "out of memory");
    out->wav = buffer;
    // One block of decoded samples on their way into the output: fixed, whatever the file's size.
    const size_t block_frames = std::max<size_t>(1, kBlockSamples / static_cast<size_t>(info.channels));
    std::unique_ptr<float[]> block(new (std::nothrow) float[block_frames * static_cast<size_t>(info.channels)]);
    if (!block) return fail(out, SONARA_CONVERT_NO_MEMORY, "out of memory");

    // Frames past this are padding of the last block.
    const size_t end_frames = end_of_recording(probe, info);

    // One frame beyond the limit is room for the frame that proves a file too large.
    const size_t ceiling_frames = max_frames + 1;
    size_t frames = 0;
    for (;;) {
        if (frames > max_frames) {
            return fail(out, SONARA_CONVERT_TOO_LARGE,
                        "the decoded WAV would exceed the limit of " + std::to_string(limit) + " bytes");
        }
        if (frames == capacity_frames) {
            const size_t grown = capacity_frames > ceiling_frames / 2 ? ceiling_frames : capacity_frames * 2;
            auto *larger = static_cast<unsigned char *>(
                std::realloc(out->wav, SONARA_CONVERT_HEADER_SIZE + grown * frame_bytes));
            if (larger == nullptr) return fail(out, SONARA_CONVERT_NO_MEMORY, "out of memory");
            out->wav = larger;
            capacity_frames = grown;
        }
        const size_t wanted = std::min({block_frames, capacity_frames - frames,
                                        end_frames - std::min(frames, end_frames)});
        if (wanted == 0) break;
        const sf_count_t read = sf_readf_float(file.handle, block.get(), static_cast<sf_count_t>(wanted));
        if (read <= 0) break;
        unsigned char *target = out->wav + SONARA_CONVERT_HEADER_SIZE + frames * frame_bytes;
        const size_t count = static_cast<size_t>(read) * static_cast<size_t>(info.channels);
        for (size_t i = 0; i < count; ++i) {
            const auto sample = static_cast<uint16_t>(to_sample(block[i]));
            target[2 * i] = static_cast<unsigned char>(sample & 0xFF);
            target[2 * i + 1] = static_cast<unsigned char>(sample >> 8);
        }
        frames += static_cast<size_t>(read);
    }
    if (sf_error(file.handle) != SF_ERR_NO_ERROR) {
        return fail(out, SONARA_CONVERT_UNREADABLE, std::string("libsndfile: ") + sf_strerror(file.handle));
    }
    // A FLAC header's frame count is exact; libFLAC skips damaged frames in search of the next
    // one without an error, so a stream that ends short of its count is damaged, not short.
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC && info.frames > 0 &&
        static_cast<uint64_t>(info.frames) > frames) {
        return fail(out, SONARA_CONVERT_UNREADABLE,
                    "damaged FLAC: the stream ends after " + std::to_string(frames) + " of the " +
                        std::to_string(info.frames) + " frames its header declares");
    }

    const size_t data_size = frames * frame_bytes;
    if (frames < capacity_frames) {
        // Give back what the claim or the last doubling reserved beyond the data.
        auto *fitted = static_cast<unsigned char *>(std::realloc(out->wav, SONARA_CONVERT_HEADER_SIZE + data_size));
        if (fitted != nullptr) out->wav = fitted;
    }
    write_canonical_header(out->wav, static_cast<uint16_t>(info.channels), static_cast<uint32_t>(info.samplerate),
                           static_cast<uint32_t>(data_size));
    out->wav_size = SONARA_CONVERT_HEADER_SIZE + data_size;
    out->converted = true;
    return SONARA_CONVERT_CONVERTED;
}

}  // namespace
}  // namespace sonara_decoding

extern "C" {

bool sonara_convert_is_integer_pcm_wav(const unsigned char *content, size_t size) {
    return sonara_decoding::probe_wav(content, size).kind == sonara_decoding::WavKind::IntegerPcm;
}

int sonara_convert(const unsigned char *content, size_t size, size_t max_wav_size, SonaraConversion *out) {
    using namespace sonara_decoding;
    if (out == nullptr) return SONARA_CONVERT_BAD_ARGUMENT;
    std::memset(out, 0, sizeof *out);
    if (content == nullptr && size != 0) return fail(out, SONARA_CONVERT_BAD_ARGUMENT, "no content");
    try {
        const WavProbe probe = probe_wav(content, size);
        switch (probe.kind) {
        case WavKind::IntegerPcm:
            set_text(out->source_format, sizeof out->source_format, pcm_wav_name(probe.bits_per_sample));
            return SONARA_CONVERT_AS_IS;
        case WavKind::Unreadable:
            // libsonara gives such a header its own verdict, with or without decoding.
            set_text(out->source_format, sizeof out->source_format, "WAV");
            return SONARA_CONVERT_AS_IS;
        case WavKind::NotWav:
            // Nothing to decode: libsonara answers an empty content itself.
            if (size == 0) return SONARA_CONVERT_AS_IS;
            break;
        case WavKind::OtherEncoding: break;
        }
        static const unsigned char empty = 0;
        return decode(content != nullptr ? content : &empty, size, probe, max_wav_size, out);
    } catch (const std::bad_alloc &) {
        return fail(out, SONARA_CONVERT_NO_MEMORY, "out of memory");
    } catch (...) {
        return fail(out, SONARA_CONVERT_NO_MEMORY, "conversion failed");
    }
}

void sonara_conversion_free(SonaraConversion *out) {
    if (out == nullptr) return;
    std::free(out->wav);
    std::memset(out, 0, sizeof *out);
}

size_t sonara_conversion_size(void) { return sizeof(SonaraConversion); }

}  // extern "C"
