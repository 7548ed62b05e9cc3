// Running evidence of one channel, fed by the payload walk as it decodes: the sample sums and
// the clipped runs, and the detector's speech frames merged into segments. Blocks may come in
// any size; a run of equal samples or a speech segment carries over from one block to the next.
#pragma once

#include <cstdint>

#include "sonara.h"

// The 16-bit magnitude from which a sample counts as at full scale: -0.07 dBFS, which 16-bit
// full scale and 8-bit full scale as decoded both reach.
constexpr int32_t clipping_magnitude = 32512;

class ChannelEvidence {
public:
    void add(const double *samples, uint64_t count);

    uint64_t frames() const { return frames_; }
    uint64_t clipped_samples() const { return clipped_; }
    // NaN where the definition has none: silence for the levels, no samples for the offset.
    double peak_dbfs() const;
    double rms_dbfs() const;
    double dc_offset() const;

private:
    uint64_t frames_ = 0;
    int32_t largest_magnitude_ = 0;
    // Exact integer sums: |x| <= 2^15 over fewer than 2^32 frames never overflows them, and the
    // mean is then rounded once.
    int64_t sum_ = 0;
    uint64_t square_sum_ = 0;
    uint64_t clipped_ = 0;
    int32_t run_value_ = 0;    // the last sample
    uint64_t run_length_ = 0;  // how many equal samples at full scale end with it
};

// The speech frames of one channel as the detector decides them, in order, merged into
// segments. Grows without throwing; once memory runs out it keeps nothing more and says so.
class SpeechSegments {
public:
    SpeechSegments() = default;
    ~SpeechSegments();
    SpeechSegments(const SpeechSegments &) = delete;
    SpeechSegments &operator=(const SpeechSegments &) = delete;

    // One classified frame of length samples at rate, starting at sample position.
    void add_frame(uint32_t position, uint32_t length, uint32_t rate, bool speech);

    const SonaraSegment *segments() const { return count_ == 0 ? nullptr : segments_; }
    uint64_t count() const { return count_; }
    bool complete() const { return !failed_; }

private:
    SonaraSegment *segments_ = nullptr;
    uint64_t count_ = 0;
    uint64_t room_ = 0;
    uint64_t open_end_ = 0;  // the sample just past the last speech frame merged so far
    bool failed_ = false;
};
