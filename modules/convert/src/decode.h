// Decoding with libsndfile over the caller's bytes, to the end of the stream, streamed in blocks
// into a WAV that holds at most a budget of bytes; frames past it are counted, not stored.
#pragma once

#include <cstddef>

#include "sonara.h"
#include "sonara_convert.h"

namespace sonara_decoding {

struct DecodeRequest {
    const unsigned char *content = nullptr;
    size_t size = 0;
    size_t max_wav_size = 0;  // as the caller gave it (0: the RIFF limit)
    size_t budget = 0;        // as the caller gave it (0: max_wav_size)
    // libsonara's reading of a RIFF/WAVE 'fmt ' chunk; null for anything else.
    const SonaraWavFormat *wav_format = nullptr;
};

// Fills out (source_format, the WAV, the counts) and returns a SonaraConvertCode.
int decode(const DecodeRequest &request, SonaraConversion *out);

}  // namespace sonara_decoding
