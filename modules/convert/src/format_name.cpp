#include "format_name.h"

#include <sndfile.h>

namespace sonara_decoding {
namespace {

// The encoding of the samples; empty where the container's name says it all.
std::string subtype_name(int subtype) {
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: return "PCM 8-bit";
    case SF_FORMAT_PCM_16: return "PCM 16-bit";
    case SF_FORMAT_PCM_24: return "PCM 24-bit";
    case SF_FORMAT_PCM_32: return "PCM 32-bit";
    case SF_FORMAT_FLOAT: return "float 32-bit";
    case SF_FORMAT_DOUBLE: return "float 64-bit";
    case SF_FORMAT_ULAW: return "\xC2\xB5-law";  // µ-law, UTF-8
    case SF_FORMAT_ALAW: return "A-law";
    case SF_FORMAT_IMA_ADPCM: return "IMA ADPCM";
    case SF_FORMAT_MS_ADPCM: return "MS ADPCM";
    case SF_FORMAT_GSM610: return "GSM 6.10";
    case SF_FORMAT_G721_32: return "G.721 ADPCM";
    case SF_FORMAT_G723_24:
    case SF_FORMAT_G723_40: return "G.723 ADPCM";
    default: return "";
    }
}

std::string joined(const std::string &container, const std::string &encoding) {
    return encoding.empty() ? container : container + " " + encoding;
}

}  // namespace

std::string format_name(int sndfile_format) {
    const int major = sndfile_format & SF_FORMAT_TYPEMASK;
    const int subtype = sndfile_format & SF_FORMAT_SUBMASK;
    const std::string encoding = subtype_name(subtype);
    switch (major) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX: return joined("WAV", encoding);
    case SF_FORMAT_RF64: return joined("RF64", encoding);
    case SF_FORMAT_W64: return joined("Wave64", encoding);
    case SF_FORMAT_AIFF: return joined("AIFF", encoding);
    case SF_FORMAT_AU: return joined("AU", encoding);
    case SF_FORMAT_CAF: return joined("CAF", encoding);
    case SF_FORMAT_FLAC: {
        // FLAC's own depth is the whole story: "FLAC 24-bit".
        const std::string depth = encoding.rfind("PCM ", 0) == 0 ? encoding.substr(4) : encoding;
        return joined("FLAC", depth);
    }
    case SF_FORMAT_OGG:
        switch (subtype) {
        case SF_FORMAT_VORBIS: return "Ogg Vorbis";
        case SF_FORMAT_OPUS: return "Opus";
        default: return "Ogg";
        }
    case SF_FORMAT_MPEG:
        switch (subtype) {
        case SF_FORMAT_MPEG_LAYER_I: return "MPEG layer I";
        case SF_FORMAT_MPEG_LAYER_II: return "MPEG layer II";
        default: return "MP3";
        }
    default: break;
    }
    // Anything else libsndfile reads: its own name for the container.
    SF_FORMAT_INFO info{};
    info.format = major;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr) {
        return joined(info.name, encoding);
    }
    return joined("audio", encoding);
}

std::string wav_format_name(uint16_t format_code, uint16_t bits_per_sample, bool pcm_sub_format) {
    const std::string bits = std::to_string(bits_per_sample) + "-bit";
    switch (format_code) {
    case 0x0001: return "WAV PCM " + bits;
    case 0x0002: return "WAV MS ADPCM";
    case 0x0003: return "WAV float " + bits;
    case 0x0006: return "WAV A-law";
    case 0x0007: return "WAV \xC2\xB5-law";
    case 0x0011: return "WAV IMA ADPCM";
    case 0x0031: return "WAV GSM 6.10";
    case 0xFFFE: return pcm_sub_format ? "WAV PCM " + bits : "WAV extensible";
    default: break;
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string code = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) code += kHex[(format_code >> shift) & 0xF];
    return "WAV format " + code;
}

}  // namespace sonara_decoding
