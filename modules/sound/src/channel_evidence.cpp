#include "channel_evidence.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace {

constexpr double full_scale = 32768.0;
constexpr double not_measured = std::numeric_limits<double>::quiet_NaN();

}  // namespace

void ChannelEvidence::add(const double *samples, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        // Decoded samples are whole 16-bit values.
        const int32_t x = static_cast<int32_t>(samples[i]);
        const int32_t magnitude = x < 0 ? -x : x;
        if (magnitude > largest_magnitude_) largest_magnitude_ = magnitude;
        sum_ += x;
        square_sum_ += static_cast<uint64_t>(static_cast<int64_t>(x) * x);

        if (magnitude < clipping_magnitude) {
            run_length_ = 0;
        } else if (run_length_ != 0 && x == run_value_) {
            // The run's first sample counts once a second one joins it.
            clipped_ += run_length_ == 1 ? 2 : 1;
            ++run_length_;
        } else {
            run_length_ = 1;
        }
        run_value_ = x;
    }
    frames_ += count;
}

double ChannelEvidence::peak_dbfs() const {
    if (largest_magnitude_ == 0) return not_measured;
    return 20.0 * std::log10(static_cast<double>(largest_magnitude_) / full_scale);
}

double ChannelEvidence::rms_dbfs() const {
    if (square_sum_ == 0) return not_measured;
    const double mean_square = static_cast<double>(square_sum_) / static_cast<double>(frames_);
    return 10.0 * std::log10(mean_square / (full_scale * full_scale));
}

double ChannelEvidence::dc_offset() const {
    if (frames_ == 0) return not_measured;
    return static_cast<double>(sum_) / static_cast<double>(frames_) / full_scale;
}

SpeechSegments::~SpeechSegments() { delete[] segments_; }

void SpeechSegments::add_frame(uint32_t position, uint32_t length, uint32_t rate, bool speech) {
    if (!speech || failed_) return;
    const uint64_t end = static_cast<uint64_t>(position) + length;
    const double end_seconds = static_cast<double>(end) / static_cast<double>(rate);
    if (count_ != 0 && open_end_ == position) {
        segments_[count_ - 1].end = end_seconds;
        open_end_ = end;
        return;
    }
    if (count_ == room_) {
        const uint64_t room = room_ == 0 ? 16 : room_ * 2;
        SonaraSegment *grown = new (std::nothrow) SonaraSegment[room];
        if (grown == nullptr) {
            failed_ = true;
            return;
        }
        std::copy(segments_, segments_ + count_, grown);
        delete[] segments_;
        segments_ = grown;
        room_ = room;
    }
    segments_[count_++] = {static_cast<double>(position) / static_cast<double>(rate), end_seconds};
    open_end_ = end;
}
