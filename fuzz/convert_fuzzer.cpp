// Arbitrary bytes through libsonara_convert within a budget. The answer is either a canonical
// 44-byte-header WAV within the budget whose header agrees with the record, integer PCM WAV (or
// no content) judged as it is, or an error text; anything else aborts. An answer that holds every
// frame must come back byte for byte from sonara_convert too.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "sonara_convert.h"

namespace {

// Small enough that the fuzzer meets the budget often; the limit keeps a bomb within the time
// limit (64 MiB of WAV decodes in well under a second).
constexpr size_t kBudget = 256 * 1024;
constexpr size_t kMaxWavSize = 64 * 1024 * 1024;

uint32_t le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void require(bool condition) {
    if (!condition) std::abort();
}

bool terminated(const char *text, size_t capacity) { return std::memchr(text, '\0', capacity) != nullptr; }

void check_converted(const SonaraConversion &r) {
    require(r.converted && r.wav != nullptr && r.error[0] == '\0');
    require(r.wav_size >= SONARA_CONVERT_HEADER_SIZE && r.wav_size <= kBudget);
    require(r.channels > 0 && r.sample_rate > 0);
    const uint64_t frame_bytes = uint64_t{r.channels} * 2U;
    require(r.stored_frames <= r.decoded_frames);
    require(r.truncated == (r.stored_frames < r.decoded_frames));
    require(r.wav_size == SONARA_CONVERT_HEADER_SIZE + r.stored_frames * frame_bytes);
    require(r.full_wav_size == SONARA_CONVERT_HEADER_SIZE + r.decoded_frames * frame_bytes);
    require(r.full_wav_size <= kMaxWavSize);
    require(r.declared_known || r.declared_frames == 0);
    const unsigned char *h = r.wav;
    const uint32_t data_size = static_cast<uint32_t>(r.wav_size - SONARA_CONVERT_HEADER_SIZE);
    require(std::memcmp(h, "RIFF", 4) == 0 && le32(h + 4) == 36U + data_size);
    require(std::memcmp(h + 8, "WAVEfmt ", 8) == 0 && le32(h + 16) == 16U && le16(h + 20) == 1);
    require(le16(h + 22) == r.channels && le32(h + 24) == r.sample_rate);
    require(le32(h + 28) == r.sample_rate * static_cast<uint32_t>(frame_bytes));
    require(le16(h + 32) == frame_bytes && le16(h + 34) == 16);
    require(std::memcmp(h + 36, "data", 4) == 0 && le32(h + 40) == data_size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    SonaraConversion record{};
    const int code = sonara_convert_bounded(data, size, kMaxWavSize, kBudget, &record);
    require(terminated(record.source_format, sizeof record.source_format));
    require(terminated(record.error, sizeof record.error));
    if (code == SONARA_CONVERT_CONVERTED) {
        check_converted(record);
        if (!record.truncated) {
            // Every frame held: the unbounded call with this budget as its limit agrees.
            SonaraConversion whole{};
            require(sonara_convert(data, size, kBudget, &whole) == SONARA_CONVERT_CONVERTED);
            require(whole.wav_size == record.wav_size && std::memcmp(whole.wav, record.wav, record.wav_size) == 0);
            sonara_conversion_free(&whole);
        }
    } else if (code == SONARA_CONVERT_AS_IS) {
        require(record.wav == nullptr && record.wav_size == 0 && !record.converted && record.error[0] == '\0');
        require(size == 0 || sonara_convert_is_integer_pcm_wav(data, size) ||
                std::strcmp(record.source_format, "WAV") == 0);
    } else {
        require(code == SONARA_CONVERT_UNREADABLE || code == SONARA_CONVERT_TOO_LARGE ||
                code == SONARA_CONVERT_NO_MEMORY || code == SONARA_CONVERT_NOT_WAV_SHAPED);
        require(record.wav == nullptr && record.wav_size == 0 && !record.converted && record.error[0] != '\0');
    }
    sonara_conversion_free(&record);
    return 0;
}
