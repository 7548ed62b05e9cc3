// The strict rules: what the library's verdict lets through, found from the values, the header
// the library itself reads, the evidence and the decoding.
#pragma once

#include <cstddef>

#include "record.h"

namespace sonara_archive {

struct StrictRules {
    double max_clipped = 0.001;  // share of a channel's samples that may be clipped
};

// Reasons, each once, in this order: every evaluated slot (or signal-to-noise channel) whose
// value is not finite; a byte rate or block align that disagrees with the other fields; a format
// code that is not integer PCM; clipped or silent channels; a decoded length that differs from
// the one the source's header declares. content is the WAV that was judged.
StrictVerdict judge_strictly(const FileReport &report, const unsigned char *content, size_t size,
                             const StrictRules &rules);

}  // namespace sonara_archive
