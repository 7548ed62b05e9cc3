// The measured values of one check, computed in streaming passes over the data payload itself:
// each channel is decoded block by block, counted into its histogram, resampled to 8000 Hz and
// cut into detector frames as the resampler produces them. Neither the decoded recording nor
// the resampled signal is ever held, so the working memory does not grow with the recording.
//
// Every value, and every log line in its place, is what the standalone measurement gives on the
// decoded recording: get_telephony_border, get_overloading_value, read_signal_noise and
// get_filtered_duration. Values are computed at first need; the passes of the measurements
// planned at construction are made in the same walk over the payload, then each measurement
// writes its own log lines when asked.
#pragma once

#include <cstdint>
#include <memory>

#include "channel_evidence.h"
#include "detector_pass.h"
#include "payload_source.h"
#include "sound.h"

class PayloadAnalysis {
public:
    enum Measurement : unsigned {
        telephony = 1u << 0,
        overload = 1u << 1,
        signal_noise = 1u << 2,
        voice_duration = 1u << 3,
        every_measurement = telephony | overload | signal_noise | voice_duration,
    };

    // head: the parsed header, whose payload must outlive the object; planned: the measurements
    // the caller means to ask for (others still answer, with a walk of their own). With a
    // source, the samples come from it instead (it outlives the object) and head.data is not
    // read.
    PayloadAnalysis(const Head &head, unsigned planned, PayloadSource *source = nullptr);
    ~PayloadAnalysis();
    PayloadAnalysis(const PayloadAnalysis &) = delete;
    PayloadAnalysis &operator=(const PayloadAnalysis &) = delete;

    // false when the payload can't be decoded (no frame size, or a header out of proportion to
    // its payload, logged) or the working buffers can't be had: the check then ends as a
    // failed decoding would.
    bool ready() const { return ready_; }

    // As get_telephony_border.
    double telephony_border();
    // As get_overloading_value.
    double overloading_value();
    // As read_signal_noise: a new[]'d array of one value per channel that the caller
    // delete[]s; null (logged) only when the array itself can't be allocated.
    double *signal_noise_values();
    // As get_filtered_duration.
    double filtered_duration();

    // Has the first walk also feed each channel's evidence and, when segments is not null, the
    // speech frames of its detector pass (arrays of one entry per channel, the caller's). Asked
    // before any measurement; the values and log lines stay exactly as without it.
    void keep_evidence(ChannelEvidence *evidence, SpeechSegments *segments);
    // Makes sure the evidence is complete: when no measurement walked the payload, a walk of its
    // own that only decodes.
    void complete_evidence();
    // The channel's speech time by the detector pass the evidence was kept from; NaN when none
    // was made or the detector could not be used.
    double speech_seconds(uint64_t channel) const;

private:
    // What a walk over the payload computes.
    enum Pass : unsigned {
        resampled_pass = 1u << 0,  // the detector over the channels resampled to 8000 Hz
        decoded_pass = 1u << 1,    // the detector over the decoded channels (at 8000 Hz)
        histogram_pass = 1u << 2,
        evidence_pass = 1u << 3,   // the channels' evidence, fed from the decoded blocks
    };
    struct DetectorFigures {
        bool usable = false;                   // the detector could be opened
        const char *resample_error = nullptr;  // resampled pass only
        std::unique_ptr<ChannelFigures[]> channels;
        uint64_t frame_errors = 0;
    };

    unsigned passes_for(unsigned measurements) const;
    // The pass signal-to-noise and voice duration read.
    Pass voice_pass() const;
    // The pass the telephony border reads: at 8000 Hz the voice pass itself.
    Pass telephony_pass() const;
    DetectorFigures &figures_of(Pass pass);
    void ensure(Pass pass);
    // Walks every channel once for passes; errors (null: counted only) gets the frame errors.
    void walk(unsigned passes, FrameErrorSink errors);
    void walk_channel(uint64_t channel, unsigned passes, DetectorFrames *resampled,
                      DetectorFrames *decoded);
    // Hands the speech pass's frame decisions of channel to its segments during this walk.
    void report_speech_frames(uint64_t channel, DetectorFrames *resampled, DetectorFrames *decoded);
    // count frames of channel from first on into input_, from the source or the payload.
    void decode(uint64_t channel, uint64_t first, uint64_t count);
    // The resampling error and frame errors of pass, as the standalone measurement logs them.
    void log_detector_lines(Pass pass, const char *name, bool frame_errors);

    Head head_;
    PayloadSource *source_ = nullptr;
    uint64_t channels_ = 0;
    uint64_t frames_ = 0;
    unsigned planned_passes_ = 0;
    unsigned done_ = 0;
    bool ready_ = false;

    std::unique_ptr<double[]> input_;          // one block of one channel, decoded
    std::unique_ptr<double[]> output_;         // what one resampler call produces
    uint64_t output_room_ = 0;
    std::unique_ptr<unsigned long[]> counters_;  // one channel's histogram
    std::unique_ptr<double[]> coefficients_;     // per channel
    std::unique_ptr<int16_t[]> frame_;
    DetectorFigures resampled_;
    DetectorFigures decoded_;

    ChannelEvidence *evidence_ = nullptr;
    SpeechSegments *segments_ = nullptr;
    unsigned speech_pass_ = 0;         // the detector pass speech is read from; 0 for none
    bool segments_in_this_walk_ = false;
};
