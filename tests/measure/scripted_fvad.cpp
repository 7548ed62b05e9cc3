#include "scripted_fvad.h"

#include <cstdlib>

#include "fvad.h"

namespace scripted_fvad {
Script script;
Seen seen;
}  // namespace scripted_fvad

using scripted_fvad::script;
using scripted_fvad::seen;

struct Fvad {
    int unused;
};

extern "C" Fvad *fvad_new(void) {
    if (script.fail_creation) return nullptr;
    ++seen.created;
    return new Fvad{0};
}

extern "C" void fvad_free(Fvad *inst) {
    if (inst == nullptr) return;
    ++seen.freed;
    delete inst;
}

extern "C" int fvad_set_mode(Fvad *, int mode) {
    seen.mode = mode;
    return 0;
}

extern "C" int fvad_set_sample_rate(Fvad *, int sample_rate) {
    if (script.refuse_rate) return -1;
    seen.rate = sample_rate;
    return 0;
}

extern "C" int fvad_process(Fvad *, const int16_t *frame, size_t length) {
    const size_t index = seen.frames.size();
    seen.frames.emplace_back(frame, frame + length);
    if (script.failing_frames.count(index) != 0) return -1;
    for (size_t i = 0; i < length; ++i) {
        if (std::abs(frame[i]) >= script.voice_threshold) return 1;
    }
    return 0;
}
