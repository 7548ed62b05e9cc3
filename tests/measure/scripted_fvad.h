// A stand-in for the voice-activity detector whose answers the test decides: a frame is voice
// when any of its samples reaches the threshold, and chosen frames or set-up calls fail. It
// records every frame it is handed, so a test sees exactly what the measurement fed it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

namespace scripted_fvad {

struct Script {
    bool fail_creation = false;
    bool refuse_rate = false;
    int16_t voice_threshold = 100;
    std::set<size_t> failing_frames;  // indexes among all frames processed, counted from 0
};

struct Seen {
    int created = 0;
    int freed = 0;
    int mode = -1;
    int rate = -1;
    std::vector<std::vector<int16_t>> frames;
};

extern Script script;
extern Seen seen;

inline void reset() {
    script = Script{};
    seen = Seen{};
}

}  // namespace scripted_fvad
