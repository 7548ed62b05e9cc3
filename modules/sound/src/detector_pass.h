// The voice-activity detector as every measurement drives it: 10 ms frames of the 8000 Hz
// signal, cut and classified in order, with the figures the measurements read of each channel.
#pragma once

#include <cmath>
#include <cstdint>

#include "fvad.h"

// The detector works on 8000 Hz frames of 10 ms, in its most eager mode.
constexpr uint32_t detector_rate = 8000;
constexpr int detector_mode = 3;
constexpr uint32_t frame_milliseconds = 10;
constexpr uint32_t detector_frame_length = (detector_rate * frame_milliseconds) / 1000;

// A sample as the detector sees it: truncated toward zero and held inside the 16-bit range,
// so a resampled overshoot such as 32768.7 stays at the top instead of wrapping to the bottom.
inline int16_t to_frame_sample(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 32767.0) return INT16_MAX;
    if (value <= -32768.0) return INT16_MIN;
    return static_cast<int16_t>(static_cast<int32_t>(value));
}
void fill_frame(int16_t *frame, const double *samples, uint32_t length);

// A detector in the measurements' mode at rate; null (nothing left allocated) when it can't
// be created or refuses the rate.
Fvad *open_detector(uint32_t rate);

// Squares added one after another in the order the values come, so a sum kept while frames
// stream by equals the one taken over the same values collected into an array.
struct SquareSum {
    double sum = 0.0;
    void add(const double *values, uint32_t count);
    // NaN for no values (0 / 0).
    double root_mean_square(uint32_t count) const;
};

// What the detector leaves of one channel.
struct ChannelFigures {
    SquareSum speech;          // samples of frames classed 1
    SquareSum noise;           // samples of frames classed 0
    uint32_t speech_count = 0;
    uint32_t noise_count = 0;
    uint32_t voiced_count = 0;  // samples of frames classed above 0
    uint32_t error_count = 0;   // frames left unclassified
};

// The signal-to-noise of a channel in dB from its figures: 0.0 without noise frames; NaN
// without speech and +inf over silent noise.
double signal_noise_of(const ChannelFigures &figures);

// Called with the first sample's index of each frame the detector can't classify.
using FrameErrorSink = void (*)(uint32_t position);
// Called with every classified frame's first sample and the detector's answer (1 speech, 0
// noise, -1 error), in order; context is the caller's.
using FrameDecisionSink = void (*)(void *context, uint32_t position, int decision);

// Cuts the samples of one channel after another into frames as they arrive, in any pieces, and
// hands them to one detector that is never reset, so each channel starts from the state the
// previous one left. A frame at p is classified only once sample p + L has arrived (p < N - L:
// the frame that ends on the last sample and any trailing part are left out), and positions are
// 32-bit: a channel is measured over at most its first 2^32 - 1 samples.
class DetectorFrames {
public:
    // frame: room for detector_frame_length samples, the caller's. errors may be null.
    DetectorFrames(Fvad *detector, int16_t *frame, FrameErrorSink errors);

    // Where classified frames' samples are also appended, as they come (each buffer with room
    // for the channel's samples); null for figures only.
    void collect_into(double *speech, double *noise);
    // Where each frame's decision also goes, until set again; null for none.
    void report_decisions(FrameDecisionSink sink, void *context);

    void start_channel();
    void push(const double *samples, uint64_t count);
    const ChannelFigures &figures() const { return figures_; }

private:
    void classify(const double *samples);

    Fvad *detector_;
    int16_t *frame_;
    FrameErrorSink errors_;
    double *speech_ = nullptr;
    double *noise_ = nullptr;
    FrameDecisionSink decisions_ = nullptr;
    void *decisions_context_ = nullptr;
    ChannelFigures figures_;
    uint32_t position_ = 0;  // first sample of the frame being filled
    uint32_t pending_count_ = 0;
    uint64_t taken_ = 0;     // samples of this channel taken so far
    double pending_[detector_frame_length];
};
