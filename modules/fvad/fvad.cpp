// The libfvad interface over the WebRTC detector of webrtc-audio-processing. That library
// exports the detector's C functions without installing a header, so their prototypes are
// declared here. The detector itself takes the rate with every frame; the layer keeps it.
#include "fvad.h"

#include <new>

extern "C" {
typedef struct WebRtcVadInst VadInst;
VadInst *WebRtcVad_Create(void);
int WebRtcVad_Init(VadInst *handle);
int WebRtcVad_set_mode(VadInst *handle, int mode);
int WebRtcVad_Process(VadInst *handle, int fs, const int16_t *audio_frame, size_t frame_length);
void WebRtcVad_Free(VadInst *handle);
}

struct Fvad {
    VadInst *core;
    int sample_rate;
};

namespace {

constexpr int default_sample_rate = 8000;
constexpr int lowest_mode = 0;
constexpr int highest_mode = 3;
constexpr int supported_rates[] = {8000, 16000, 32000, 48000};
constexpr int frame_milliseconds[] = {10, 20, 30};

bool supported_rate(int rate) {
    for (int supported : supported_rates) {
        if (rate == supported) return true;
    }
    return false;
}

bool supported_length(int rate, size_t length) {
    for (int ms : frame_milliseconds) {
        if (length == static_cast<size_t>(rate / 1000 * ms)) return true;
    }
    return false;
}

}  // namespace

extern "C" Fvad *fvad_new(void) {
    Fvad *inst = new (std::nothrow) Fvad{nullptr, default_sample_rate};
    if (inst == nullptr) return nullptr;
    inst->core = WebRtcVad_Create();
    if (inst->core == nullptr || WebRtcVad_Init(inst->core) != 0) {
        fvad_free(inst);
        return nullptr;
    }
    return inst;
}

extern "C" void fvad_free(Fvad *inst) {
    if (inst == nullptr) return;
    if (inst->core != nullptr) WebRtcVad_Free(inst->core);
    delete inst;
}

extern "C" int fvad_set_mode(Fvad *inst, int mode) {
    if (inst == nullptr || mode < lowest_mode || mode > highest_mode) return -1;
    return WebRtcVad_set_mode(inst->core, mode) == 0 ? 0 : -1;
}

extern "C" int fvad_set_sample_rate(Fvad *inst, int sample_rate) {
    if (inst == nullptr || !supported_rate(sample_rate)) return -1;
    inst->sample_rate = sample_rate;
    return 0;
}

extern "C" int fvad_process(Fvad *inst, const int16_t *frame, size_t length) {
    if (inst == nullptr || frame == nullptr || !supported_length(inst->sample_rate, length)) {
        return -1;
    }
    const int decision = WebRtcVad_Process(inst->core, inst->sample_rate, frame, length);
    if (decision < 0) return -1;
    return decision > 0 ? 1 : 0;
}
