// The C interface: what is judged as it is, told by libsonara's own reading of the header, and
// what is decoded.
#include <cstdlib>
#include <cstring>
#include <new>

#include "decode.h"
#include "format_name.h"
#include "record.h"
#include "sonara.h"
#include "sonara_convert.h"

namespace sonara_decoding {
namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// An extensible 'fmt ' needs this much to hold its sub-format.
constexpr uint32_t kExtensibleSize = 40;

enum class WavKind {
    NotWav,         // no RIFF/WAVE container: libsndfile decides what it is
    IntegerPcm,     // format code 1, or extensible with the PCM sub-format
    OtherEncoding,  // a WAV whose samples are not integer PCM: decoded
    Unreadable      // RIFF/WAVE without a 'fmt ' chunk libsonara reads whole: judged as it is
};

// The 'fmt ' chunk libsonara reads (the last one before 'data'), so that what is judged as it
// is, and the name it is given, are what the check itself sees.
WavKind wav_kind(const unsigned char *content, size_t size, SonaraWavFormat &format) {
    const bool has_format = v_read_format(content, size, &format);
    if (!format.riff_wave) return WavKind::NotWav;
    if (!has_format) return WavKind::Unreadable;
    if (format.format_code == kFormatPcm) return WavKind::IntegerPcm;
    if (format.format_code != kFormatExtensible) return WavKind::OtherEncoding;
    if (format.fmt_size < kExtensibleSize) return WavKind::Unreadable;
    return format.pcm_sub_format ? WavKind::IntegerPcm : WavKind::OtherEncoding;
}

}  // namespace
}  // namespace sonara_decoding

extern "C" {

bool sonara_convert_is_integer_pcm_wav(const unsigned char *content, size_t size) {
    SonaraWavFormat format{};
    return sonara_decoding::wav_kind(content, size, format) == sonara_decoding::WavKind::IntegerPcm;
}

int sonara_convert_bounded(const unsigned char *content, size_t size, size_t max_wav_size, size_t budget,
                           SonaraConversion *out) {
    using namespace sonara_decoding;
    if (out == nullptr) return SONARA_CONVERT_BAD_ARGUMENT;
    std::memset(out, 0, sizeof *out);
    if (content == nullptr && size != 0) return fail(out, SONARA_CONVERT_BAD_ARGUMENT, "no content");
    try {
        SonaraWavFormat format{};
        switch (wav_kind(content, size, format)) {
        case WavKind::IntegerPcm:
            set_text(out->source_format, sizeof out->source_format,
                     wav_format_name(format.format_code, format.bits_per_sample, format.pcm_sub_format));
            return SONARA_CONVERT_AS_IS;
        case WavKind::Unreadable:
            // libsonara gives such a header its own verdict, with or without decoding.
            set_text(out->source_format, sizeof out->source_format, "WAV");
            return SONARA_CONVERT_AS_IS;
        case WavKind::NotWav:
            // Nothing to decode: libsonara answers an empty content itself.
            if (size == 0) return SONARA_CONVERT_AS_IS;
            return decode({content, size, max_wav_size, budget, nullptr}, out);
        case WavKind::OtherEncoding: return decode({content, size, max_wav_size, budget, &format}, out);
        }
        return fail(out, SONARA_CONVERT_BAD_ARGUMENT, "conversion failed");
    } catch (const std::bad_alloc &) {
        return fail(out, SONARA_CONVERT_NO_MEMORY, "out of memory");
    } catch (...) {
        return fail(out, SONARA_CONVERT_NO_MEMORY, "conversion failed");
    }
}

int sonara_convert(const unsigned char *content, size_t size, size_t max_wav_size, SonaraConversion *out) {
    return sonara_convert_bounded(content, size, max_wav_size, max_wav_size, out);
}

void sonara_conversion_free(SonaraConversion *out) {
    if (out == nullptr) return;
    std::free(out->wav);
    std::memset(out, 0, sizeof *out);
}

size_t sonara_conversion_size(void) { return sizeof(SonaraConversion); }

}  // extern "C"
