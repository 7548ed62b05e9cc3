// Framing, detector decisions and running sums, shared by the standalone measurements and the
// check.
#include "detector_pass.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void fill_frame(int16_t *frame, const double *samples, uint32_t length) {
    std::memset(frame, 0, length * sizeof(int16_t));
    for (uint32_t i = 0; i < length; ++i) frame[i] = to_frame_sample(samples[i]);
}

Fvad *open_detector(uint32_t rate) {
    Fvad *detector = fvad_new();
    if (detector == nullptr) return nullptr;
    fvad_set_mode(detector, detector_mode);
    if (fvad_set_sample_rate(detector, static_cast<int>(rate)) == -1) {
        fvad_free(detector);
        return nullptr;
    }
    return detector;
}

void SquareSum::add(const double *values, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) sum += values[i] * values[i];
}

double SquareSum::root_mean_square(uint32_t count) const {
    return std::sqrt(sum / static_cast<double>(count));
}

double signal_noise_of(const ChannelFigures &figures) {
    if (figures.noise_count == 0) return 0.0;
    const double s = figures.speech.root_mean_square(figures.speech_count);
    const double z = figures.noise.root_mean_square(figures.noise_count);
    const double q = s / z;
    return 10.0 * std::log10(q * q);
}

DetectorFrames::DetectorFrames(Fvad *detector, int16_t *frame, FrameErrorSink errors)
    : detector_(detector), frame_(frame), errors_(errors) {}

void DetectorFrames::collect_into(double *speech, double *noise) {
    speech_ = speech;
    noise_ = noise;
}

void DetectorFrames::report_decisions(FrameDecisionSink sink, void *context) {
    decisions_ = sink;
    decisions_context_ = context;
}

void DetectorFrames::start_channel() {
    figures_ = ChannelFigures{};
    position_ = 0;
    pending_count_ = 0;
    taken_ = 0;
}

void DetectorFrames::classify(const double *samples) {
    constexpr uint32_t length = detector_frame_length;
    fill_frame(frame_, samples, length);
    const int decision = fvad_process(detector_, frame_, length);
    if (decisions_ != nullptr) decisions_(decisions_context_, position_, decision);
    if (decision > 0) figures_.voiced_count += length;
    if (decision == 0) {
        if (noise_ != nullptr) {
            std::memcpy(noise_ + figures_.noise_count, samples, length * sizeof(double));
        }
        figures_.noise.add(samples, length);
        figures_.noise_count += length;
    } else if (decision == 1) {
        if (speech_ != nullptr) {
            std::memcpy(speech_ + figures_.speech_count, samples, length * sizeof(double));
        }
        figures_.speech.add(samples, length);
        figures_.speech_count += length;
    } else {
        ++figures_.error_count;
        if (errors_ != nullptr) errors_(position_);
    }
    position_ += length;
}

void DetectorFrames::push(const double *samples, uint64_t count) {
    constexpr uint32_t length = detector_frame_length;
    count = std::min<uint64_t>(count, UINT32_MAX - taken_);
    taken_ += count;
    uint64_t i = 0;
    while (i < count) {
        // A full pending frame is followed by this sample, so it counts.
        if (pending_count_ == length) {
            classify(pending_);
            pending_count_ = 0;
        }
        if (pending_count_ == 0 && count - i > length) {
            classify(samples + i);  // whole frame here, and a sample after it
            i += length;
            continue;
        }
        const uint64_t take = std::min<uint64_t>(length - pending_count_, count - i);
        std::memcpy(pending_ + pending_count_, samples + i, take * sizeof(double));
        pending_count_ += static_cast<uint32_t>(take);
        i += take;
    }
}
