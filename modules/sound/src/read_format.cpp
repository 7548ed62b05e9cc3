// v_read_format: a file's header fields as the check itself reads them, for callers that
// describe or vet a file (its format, its strict rules) without a second reader of the chunks.
#include <cstring>

#include "sonara.h"
#include "sound.h"

namespace {

// KSDATAFORMAT_SUBTYPE_PCM: 00000001-0000-0010-8000-00aa00389b71, as stored.
constexpr unsigned char PCM_SUB_FORMAT[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                              0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
constexpr uint64_t FMT_FIELDS_END = 24;        // chunk offset just past bits_per_sample
constexpr uint64_t SUB_FORMAT_AT = 8 + 24;     // chunk offset of the extensible sub-format GUID
constexpr uint16_t FORMAT_EXTENSIBLE = 0xFFFE;

}  // namespace

extern "C" bool v_read_format(const unsigned char *content, size_t size, SonaraWavFormat *out) {
    if (out == nullptr) return false;
    std::memset(out, 0, sizeof *out);
    if (content == nullptr || size == 0) return false;
    out->riff_wave = size >= 12 && std::memcmp(content, "RIFF", 4) == 0 && std::memcmp(content + 8, "WAVE", 4) == 0;
    Head head{};
    uint64_t chunk = 0;
    out->head_usable = read_head_quietly(content, size, &head, &chunk, &out->reached_data);
    // The walk fills the fields one by one and stops at the first that lies past the end: only
    // a chunk whose fields are all inside the content counts as read.
    out->has_format = chunk != 0 && chunk + FMT_FIELDS_END <= size;
    if (!out->has_format) {
        out->head_usable = false;
        return false;
    }
    out->format_code = static_cast<uint16_t>(head.audio_format);
    out->channels = head.channels;
    out->sample_rate = head.sample_rate;
    out->byte_rate = head.byte_rate;
    out->block_align = head.block_align;
    out->bits_per_sample = head.bits_per_sample;
    out->fmt_size = head.fmt_size;
    out->pcm_sub_format = out->format_code == FORMAT_EXTENSIBLE && head.fmt_size >= 40 &&
                          chunk + SUB_FORMAT_AT + 16 <= size &&
                          std::memcmp(content + chunk + SUB_FORMAT_AT, PCM_SUB_FORMAT, 16) == 0;
    if (out->head_usable) {
        out->data_size = head.data_size;
        out->duration = head.duration;
    }
    return true;
}
