// The canonical 44-byte header of a converted file.
#pragma once

#include <cstdint>

namespace sonara_decoding {

// 16-bit PCM: format 1, block align channels x 2. The caller has checked that the rate, channel
// count and data size fit their fields.
void write_canonical_header(unsigned char *out, uint16_t channels, uint32_t sample_rate, uint32_t data_size);

}  // namespace sonara_decoding
