#include "check_details.h"

#include <cmath>
#include <new>

#include "libcommon.h"
#include "payload_analysis.h"

namespace {

template <typename T>
std::unique_ptr<T[]> allocate(uint64_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[count == 0 ? 1 : count]());
}

// Where an empty segment list points: segments asked and measured, none found.
constexpr SonaraSegment no_segments{0.0, 0.0};

void log_details_memory() {
    LOG(LOG_ERROR, "[library] Not enough memory for the details");
}

}  // namespace

bool CheckDetails::set_flags(unsigned flags) {
    if ((flags & ~known_flags) != 0) return false;
    flags_ = flags;
    return true;
}

void CheckDetails::drop(bool keep) {
    evidence_.reset();
    segments_.reset();
    records_.reset();
    channels_ = 0;
    answer_ = {false, 0, nullptr};
    kept_ = keep;
}

void CheckDetails::start_check() { drop(flags_ != 0); }

bool CheckDetails::prepare(uint64_t channels) {
    if (!kept_) return false;
    evidence_ = allocate<ChannelEvidence>(channels);
    if ((flags_ & SONARA_DETAILS_SEGMENTS) != 0) segments_ = allocate<SpeechSegments>(channels);
    records_ = allocate<SonaraChannelDetails>(channels);
    if (evidence_ == nullptr || records_ == nullptr ||
        ((flags_ & SONARA_DETAILS_SEGMENTS) != 0 && segments_ == nullptr)) {
        log_details_memory();
        drop(false);
        return false;
    }
    channels_ = channels;
    return true;
}

void CheckDetails::finish(const PayloadAnalysis &analysis) {
    if (evidence_ == nullptr) return;
    for (uint64_t c = 0; c < channels_; ++c) {
        const ChannelEvidence &evidence = evidence_[c];
        SonaraChannelDetails &record = records_[c];
        record = {evidence.peak_dbfs(), evidence.rms_dbfs(), evidence.dc_offset(),
                  evidence.clipped_samples(), analysis.speech_seconds(c), evidence.frames(),
                  nullptr, 0};
        // Segments of a channel the detector made no pass over stay null, as its speech is NaN.
        if (segments_ != nullptr && !std::isnan(record.speech_seconds)) {
            if (!segments_[c].complete()) {
                log_details_memory();
                drop(false);
                return;
            }
            const SonaraSegment *segments = segments_[c].segments();
            record.segments = segments != nullptr ? segments : &no_segments;
            record.segment_count = segments_[c].count();
        }
    }
    // A header's channel count is 16-bit.
    answer_ = {true, static_cast<uint32_t>(channels_), records_.get()};
}

void CheckDetails::abandon() { drop(kept_); }
