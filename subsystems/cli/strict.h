// --strict: what the library's verdict lets through, found from the values and the header.
#pragma once

#include <cstddef>

#include "report.h"

namespace sonara_cli {

// Reasons, each once, in this order: every evaluated slot (or signal-to-noise channel) whose
// value is not finite; a byte rate or block align that disagrees with the other fields; a
// format code that is not integer PCM.
StrictVerdict judge_strictly(const FileReport &report, const unsigned char *content, size_t size);

}  // namespace sonara_cli
