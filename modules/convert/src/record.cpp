#include "record.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace sonara_decoding {

void set_text(char *field, size_t capacity, const std::string &text) {
    size_t length = std::min(text.size(), capacity - 1);
    // Never end inside a character: back off continuation bytes (10xxxxxx) at the cut.
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

int fail(SonaraConversion *out, int code, const std::string &text) {
    std::free(out->wav);
    out->wav = nullptr;
    out->wav_size = 0;
    out->converted = false;
    out->truncated = false;
    out->declared_known = false;
    out->declared_frames = 0;
    out->decoded_frames = 0;
    out->stored_frames = 0;
    out->channels = 0;
    out->sample_rate = 0;
    out->full_wav_size = 0;
    set_text(out->error, sizeof out->error, text);
    return code;
}

}  // namespace sonara_decoding
