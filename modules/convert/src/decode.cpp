#include "decode.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "flac_length.h"
#include "format_name.h"
#include "memory_file.h"
#include "mpeg_stream.h"
#include "ogg_check.h"
#include "record.h"
#include "wav_header.h"

namespace sonara_decoding {
namespace {

// The largest WAV whose RIFF size (36 + data) still fits 32 bits.
constexpr size_t kRiffLimit = static_cast<size_t>(UINT32_MAX) - 36U + SONARA_CONVERT_HEADER_SIZE;
// Frames are decoded in blocks of this many samples (all channels together): the fixed block
// every frame passes through, stored or only counted.
constexpr size_t kBlockSamples = 16384;
// The first allocation holds at least this many frames (when the budget has room for them).
constexpr size_t kFirstFrames = 4096;
// The frame count a file declares sizes the first allocation only up to this much per input byte
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

// The payload of the first chunk `id` as libsndfile's own header reading stored it; empty when
// there is none.
std::vector<unsigned char> chunk_payload(SNDFILE *file, const char *id) {
    SF_CHUNK_INFO wanted{};
    std::strncpy(wanted.id, id, sizeof wanted.id - 1);
    wanted.id_size = static_cast<unsigned>(std::strlen(wanted.id));
    SF_CHUNK_ITERATOR *chunk = sf_get_chunk_iterator(file, &wanted);
    if (chunk == nullptr) return {};
    SF_CHUNK_INFO found{};
    if (sf_get_chunk_size(chunk, &found) != SF_ERR_NO_ERROR || found.datalen == 0 || found.datalen > 4096) return {};
    std::vector<unsigned char> payload(found.datalen);
    found.data = payload.data();
    if (sf_get_chunk_data(chunk, &found) != SF_ERR_NO_ERROR) return {};
    return payload;
}

uint32_t le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Where a block-coded WAV really ends: its 'fact' length, believed only when it cuts at most one
// block (the 'fmt ' extension's samples per block) from what libsndfile counts, which includes
// the padded last block (some writers put a padded or a per-channel count there, and those are
// left alone). SIZE_MAX: no end but the stream's.
size_t end_of_recording(SNDFILE *file, const SF_INFO &info) {
    if (!pads_last_block(info.format) || info.frames <= 0) return SIZE_MAX;
    const std::vector<unsigned char> fact = chunk_payload(file, "fact");
    const std::vector<unsigned char> format = chunk_payload(file, "fmt ");
    if (fact.size() < 4 || format.size() < 20) return SIZE_MAX;
    const uint32_t fact_frames = le32(fact.data());
    const uint32_t frames_per_block = static_cast<uint32_t>(format[18] | (format[19] << 8));
    if (fact_frames == 0 || frames_per_block == 0) return SIZE_MAX;
    const auto counted = static_cast<uint64_t>(info.frames);
    if (counted <= fact_frames || counted - fact_frames > frames_per_block) return SIZE_MAX;
    return fact_frames;
}

// Whether libsndfile's encoding is the one a WAV format code names (any, for codes that name none).
bool subtype_matches(uint16_t format_code, int subtype) {
    switch (format_code) {
    case 0x0003: return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    case 0x0006: return subtype == SF_FORMAT_ALAW;
    case 0x0007: return subtype == SF_FORMAT_ULAW;
    case 0x0002: return subtype == SF_FORMAT_MS_ADPCM;
    case 0x0011: return subtype == SF_FORMAT_IMA_ADPCM;
    case 0x0031: return subtype == SF_FORMAT_GSM610;
    default: return true;
    }
}

// libsndfile walks a WAV's chunks its own way; what it decodes must be what libsonara's reading
// of the header describes, or the judged WAV would not be the file libsonara sees.
bool agrees_with_library(const SonaraWavFormat &wav, const SF_INFO &info) {
    return info.channels == wav.channels && static_cast<uint32_t>(info.samplerate) == wav.sample_rate &&
           subtype_matches(wav.format_code, info.format & SF_FORMAT_SUBMASK);
}

// Growing the stored WAV by doubling up to the budget's frames; false when out of memory.
bool reserve(SonaraConversion *out, size_t &capacity, size_t needed, size_t most, size_t frame_bytes) {
    if (needed <= capacity) return true;
    const size_t grown = std::min(std::max(needed, capacity > most / 2 ? most : capacity * 2), most);
    auto *larger = static_cast<unsigned char *>(std::realloc(out->wav, SONARA_CONVERT_HEADER_SIZE + grown * frame_bytes));
    if (larger == nullptr) return false;
    out->wav = larger;
    capacity = grown;
    return true;
}

}  // namespace

int decode(const DecodeRequest &request, SonaraConversion *out) {
    const SonaraWavFormat *wav = request.wav_format;
    if (wav != nullptr) {
        set_text(out->source_format, sizeof out->source_format,
                 wav_format_name(wav->format_code, wav->bits_per_sample, wav->pcm_sub_format));
    }
    const size_t limit = request.max_wav_size == 0 ? kRiffLimit : std::min(request.max_wav_size, kRiffLimit);
    if (limit < SONARA_CONVERT_HEADER_SIZE) {
        return fail(out, SONARA_CONVERT_TOO_LARGE,
                    "the limit of " + std::to_string(limit) + " bytes leaves no room for a WAV header");
    }
    if (request.budget != 0 && request.budget < SONARA_CONVERT_HEADER_SIZE) {
        return fail(out, SONARA_CONVERT_BAD_ARGUMENT,
                    "a budget of " + std::to_string(request.budget) + " bytes leaves no room for a WAV header");
    }
    const size_t budget = request.budget == 0 ? limit : std::min(request.budget, limit);

    const std::string refusal = ogg_refusal(request.content, request.size);
    if (!refusal.empty()) {
        set_text(out->source_format, sizeof out->source_format, refusal.rfind("malformed Ogg Vorbis", 0) == 0 ? "Ogg Vorbis" : "Ogg");
        return fail(out, SONARA_CONVERT_UNREADABLE, refusal);
    }

    MemoryFile memory;
    memory.data = request.content;
    memory.size = static_cast<sf_count_t>(request.size);
    // libsndfile stops every read at the frame count a header declares; a FLAC stream's count is
    // shown as 0 ("unknown"), so it decodes to the stream's end, and the declared one kept.
    const FlacLength flac = find_flac_length(request.content, request.size);
    if (flac.found) {
        memory.overlay_at = static_cast<sf_count_t>(flac.field_at);
        memory.overlay_size = 5;
        memory.overlay[0] = static_cast<unsigned char>(request.content[flac.field_at] & 0xF0);
    }
    SF_VIRTUAL_IO io = memory_io();
    SF_INFO info{};
    SndFile file;
    {
        std::lock_guard<std::mutex> guard(open_lock);
        file.handle = sf_open_virtual(&io, SFM_READ, &info, &memory);
        if (file.handle == nullptr) {
            return fail(out, SONARA_CONVERT_UNREADABLE, std::string("libsndfile: ") + sf_strerror(nullptr));
        }
    }
    if (wav != nullptr && !agrees_with_library(*wav, info)) {
        return fail(out, SONARA_CONVERT_UNREADABLE,
                    "libsndfile reads this WAV as " + format_name(info.format) + ", " +
                        std::to_string(info.channels) + " channels at " + std::to_string(info.samplerate) +
                        " Hz; libsonara's reading of its 'fmt ' chunk differs");
    }
    set_text(out->source_format, sizeof out->source_format, format_name(info.format));

    if (info.channels <= 0 || info.channels > INT16_MAX || info.samplerate <= 0 ||
        static_cast<uint64_t>(info.samplerate) * static_cast<uint64_t>(info.channels) * 2U > UINT32_MAX) {
        return fail(out, SONARA_CONVERT_NOT_WAV_SHAPED,
                    "a WAV header cannot hold " + std::to_string(info.channels) + " channels at " +
                        std::to_string(info.samplerate) + " Hz");
    }
    const size_t channels = static_cast<size_t>(info.channels);
    const size_t frame_bytes = channels * 2U;
    // Whole frames only: the data never ends in part of a frame.
    const size_t max_frames = (limit - SONARA_CONVERT_HEADER_SIZE) / frame_bytes;
    const size_t store_frames = (budget - SONARA_CONVERT_HEADER_SIZE) / frame_bytes;

    // What the header declares: FLAC's own count (0 is "unknown"), else libsndfile's, which is
    // "unknown" at SF_COUNT_MAX; a padded block-coded WAV declares its 'fact' length.
    const bool is_flac = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
    bool declared_known = false;
    uint64_t declared = 0;
    if (is_flac && flac.found) {
        declared_known = flac.total_samples != 0;
        declared = flac.total_samples;
    } else if (info.frames >= 0 && info.frames != SF_COUNT_MAX) {
        declared_known = true;
        declared = static_cast<uint64_t>(info.frames);
    }
    // Frames past this are padding of the last block.
    const size_t end_frames = end_of_recording(file.handle, info);
    if (end_frames != SIZE_MAX) declared = end_frames;

    // MPEG audio is read by libmpg123 itself, which can be told to find the stream's end.
    MpegStream mpeg;
    const bool is_mpeg = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    if (is_mpeg) {
        std::string error;
        if (!mpeg.open(request.content, request.size, error)) return fail(out, SONARA_CONVERT_UNREADABLE, error);
        if (mpeg.channels() != info.channels || mpeg.sample_rate() != info.samplerate) {
            return fail(out, SONARA_CONVERT_UNREADABLE, "MP3: libmpg123 and libsndfile read different streams");
        }
        sf_close(file.handle);
        file.handle = nullptr;
        declared_known = mpeg.declared_known();
        declared = mpeg.declared_frames();
    }
    // The next frames of the stream into block: 0 at its end, negative on an error.
    auto read_frames = [&](float *into, size_t count) -> long {
        if (is_mpeg) return mpeg.read(into, count);
        return static_cast<long>(sf_readf_float(file.handle, into, static_cast<sf_count_t>(count)));
    };

    const size_t claimed = declared_known ? static_cast<size_t>(std::min<uint64_t>(declared, store_frames)) : 0;
    const size_t hint_cap = request.size > (SIZE_MAX - kClaimFloor) / kClaimPerInputByte
                                ? SIZE_MAX
                                : request.size * kClaimPerInputByte + kClaimFloor;
    size_t capacity = std::min(std::max(std::min(claimed, hint_cap / frame_bytes), kFirstFrames), store_frames);
    out->wav = static_cast<unsigned char *>(std::malloc(SONARA_CONVERT_HEADER_SIZE + capacity * frame_bytes));
    if (out->wav == nullptr) return fail(out, SONARA_CONVERT_NO_MEMORY, "out of memory");
    // One block of decoded samples on their way into the output: fixed, whatever the file's size.
    const size_t block_frames = std::max<size_t>(1, kBlockSamples / channels);
    std::unique_ptr<float[]> block(new (std::nothrow) float[block_frames * channels]);
    if (!block) return fail(out, SONARA_CONVERT_NO_MEMORY, "out of memory");

    size_t frames = 0;  // decoded, to the end of the stream
    size_t stored = 0;  // of those, held in out->wav
    for (;;) {
        const size_t wanted = std::min(block_frames, end_frames - std::min(frames, end_frames));
        if (wanted == 0) break;
        const long read = read_frames(block.get(), wanted);
        if (read < 0) return fail(out, SONARA_CONVERT_UNREADABLE, mpeg.error());
        if (read == 0) break;
        const auto got = static_cast<size_t>(read);
        const size_t keep = std::min(got, store_frames - stored);
        if (keep > 0) {
            if (!reserve(out, capacity, stored + keep, store_frames, frame_bytes)) {
                return fail(out, SONARA_CONVERT_NO_MEMORY, "out of memory");
            }
            unsigned char *target = out->wav + SONARA_CONVERT_HEADER_SIZE + stored * frame_bytes;
            const size_t count = keep * channels;
            for (size_t i = 0; i < count; ++i) {
                const auto sample = static_cast<uint16_t>(to_sample(block[i]));
                target[2 * i] = static_cast<unsigned char>(sample & 0xFF);
                target[2 * i + 1] = static_cast<unsigned char>(sample >> 8);
            }
            stored += keep;
        }
        frames += got;
        if (frames > max_frames) {
            return fail(out, SONARA_CONVERT_TOO_LARGE,
                        "the decoded WAV would exceed the limit of " + std::to_string(limit) + " bytes");
        }
    }
    if (!is_mpeg && sf_error(file.handle) != SF_ERR_NO_ERROR) {
        return fail(out, SONARA_CONVERT_UNREADABLE, std::string("libsndfile: ") + sf_strerror(file.handle));
    }
    // A FLAC header's frame count is exact; libFLAC skips damaged frames in search of the next
    // one without an error, so a stream that ends short of its count is damaged, not short.
    if (is_flac && declared_known && declared > frames) {
        return fail(out, SONARA_CONVERT_UNREADABLE,
                    "damaged FLAC: the stream ends after " + std::to_string(frames) + " of the " +
                        std::to_string(declared) + " frames its header declares");
    }

    const size_t data_size = stored * frame_bytes;
    if (stored < capacity) {
        // Give back what the claim or the last doubling reserved beyond the data.
        auto *fitted = static_cast<unsigned char *>(std::realloc(out->wav, SONARA_CONVERT_HEADER_SIZE + data_size));
        if (fitted != nullptr) out->wav = fitted;
    }
    write_canonical_header(out->wav, static_cast<uint16_t>(channels), static_cast<uint32_t>(info.samplerate),
                           static_cast<uint32_t>(data_size));
    out->wav_size = SONARA_CONVERT_HEADER_SIZE + data_size;
    out->converted = true;
    out->truncated = stored < frames;
    out->declared_known = declared_known;
    out->declared_frames = declared_known ? declared : 0;
    out->channels = static_cast<uint16_t>(channels);
    out->sample_rate = static_cast<uint32_t>(info.samplerate);
    out->decoded_frames = frames;
    out->stored_frames = stored;
    out->full_wav_size = SONARA_CONVERT_HEADER_SIZE + static_cast<uint64_t>(frames) * frame_bytes;
    return SONARA_CONVERT_CONVERTED;
}

}  // namespace sonara_decoding
