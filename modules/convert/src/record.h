// Filling a SonaraConversion: its texts, and the one way a conversion fails.
#pragma once

#include <string>

#include "sonara_convert.h"

namespace sonara_decoding {

// Copies text into a fixed field, cut to fit at a UTF-8 character boundary.
void set_text(char *field, size_t capacity, const std::string &text);

// Releases the WAV, clears the counts and sets the error text; returns code.
int fail(SonaraConversion *out, int code, const std::string &text);

}  // namespace sonara_decoding
