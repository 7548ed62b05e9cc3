// The total-samples field of a native FLAC stream's STREAMINFO. libsndfile stops every read at the
// frame count a header declares, so a FLAC stream is handed over with this field reading 0
// ("unknown"), which makes it decode to the stream's real end; the count it declared is kept here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonara_decoding {

struct FlacLength {
    bool found = false;         // "fLaC" (after an ID3v2 tag, if any) and a 34-byte STREAMINFO first
    size_t field_at = 0;        // offset of the 5 bytes that end in the 36-bit count
    uint64_t total_samples = 0; // frames per channel declared; 0 means unknown in FLAC too
};

FlacLength find_flac_length(const unsigned char *content, size_t size);

}  // namespace sonara_decoding
