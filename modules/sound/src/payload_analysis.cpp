#include "payload_analysis.h"

#include <algorithm>
#include <limits>
#include <new>

#include "clipping_histogram.h"
#include "resampler_feed.h"

namespace {

template <typename T>
std::unique_ptr<T[]> allocate(uint64_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[count == 0 ? 1 : count]());
}

void close_detector(Fvad *detector) {
    if (detector != nullptr) fvad_free(detector);
}

void record_speech_frame(void *segments, uint32_t position, int decision) {
    static_cast<SpeechSegments *>(segments)->add_frame(position, detector_frame_length,
                                                       detector_rate, decision > 0);
}

}  // namespace

PayloadAnalysis::PayloadAnalysis(const Head &head, unsigned planned, PayloadSource *source)
    : head_(head), source_(source) {
    if (source_ != nullptr ? !frames_are_decodable(&head_) : !payload_is_decodable(&head_)) return;
    channels_ = head_.channels;
    frames_ = head_.data_size / head_.block_align;
    planned_passes_ = passes_for(planned);

    output_room_ = one_channel_output_room(frames_, head_.sample_rate, detector_rate);
    input_ = allocate<double>(resample_block_frames);
    output_ = allocate<double>(output_room_);
    counters_ = allocate<unsigned long>(SampleHistogram::counter_count);
    coefficients_ = allocate<double>(channels_);
    frame_ = allocate<int16_t>(detector_frame_length);
    resampled_.channels = allocate<ChannelFigures>(channels_);
    decoded_.channels = allocate<ChannelFigures>(channels_);
    ready_ = input_ != nullptr && output_ != nullptr && counters_ != nullptr &&
             coefficients_ != nullptr && frame_ != nullptr && resampled_.channels != nullptr &&
             decoded_.channels != nullptr;
}

PayloadAnalysis::~PayloadAnalysis() = default;

PayloadAnalysis::Pass PayloadAnalysis::voice_pass() const {
    // A recording already at 8000 Hz is measured on its decoded samples.
    return head_.sample_rate == detector_rate ? decoded_pass : resampled_pass;
}

PayloadAnalysis::Pass PayloadAnalysis::telephony_pass() const {
    // Elsewhere both read the resampled channels. At 8000 Hz libsoxr hands back its input sample
    // for sample, so a resampled pass would repeat the decoded one frame for frame.
    return voice_pass();
}

unsigned PayloadAnalysis::passes_for(unsigned measurements) const {
    unsigned passes = 0;
    if ((measurements & telephony) != 0) passes |= telephony_pass();
    if ((measurements & overload) != 0) passes |= histogram_pass;
    if ((measurements & (signal_noise | voice_duration)) != 0) passes |= voice_pass();
    return passes;
}

PayloadAnalysis::DetectorFigures &PayloadAnalysis::figures_of(Pass pass) {
    return pass == resampled_pass ? resampled_ : decoded_;
}

void PayloadAnalysis::ensure(Pass pass) {
    if ((done_ & pass) != 0) return;
    walk((planned_passes_ | pass) & ~done_, nullptr);
}

void PayloadAnalysis::walk(unsigned passes, FrameErrorSink errors) {
    Fvad *resampled_detector = nullptr;
    Fvad *decoded_detector = nullptr;
    if ((passes & resampled_pass) != 0) {
        resampled_detector = open_detector(detector_rate);
        resampled_.usable = resampled_detector != nullptr;
        resampled_.resample_error = nullptr;
        resampled_.frame_errors = 0;
    }
    if ((passes & decoded_pass) != 0) {
        decoded_detector = open_detector(detector_rate);
        decoded_.usable = decoded_detector != nullptr;
        decoded_.frame_errors = 0;
    }
    // Speech segments come from the first walk that makes the speech pass, never a repeat.
    segments_in_this_walk_ = segments_ != nullptr && (passes & evidence_pass) != 0 &&
                             (passes & speech_pass_) != 0;
    DetectorFrames resampled(resampled_detector, frame_.get(), errors);
    DetectorFrames decoded(decoded_detector, frame_.get(), errors);

    if ((passes & resampled_pass) != 0 && channels_ == 0) {
        // Nothing to resample, but the resampler still answers for a recording without
        // channels, and the measurements log what it says.
        ResampledChannels none =
            resample_channels(nullptr, 0, frames_, head_.sample_rate, detector_rate);
        resampled_.resample_error = none.error;
        free_resampled(&none, 0);
    }
    for (uint64_t c = 0; c < channels_; ++c) {
        walk_channel(c, passes, resampled_detector != nullptr ? &resampled : nullptr,
                     decoded_detector != nullptr ? &decoded : nullptr);
    }
    close_detector(resampled_detector);
    close_detector(decoded_detector);
    done_ |= passes;
}

void PayloadAnalysis::walk_channel(uint64_t channel, unsigned passes, DetectorFrames *resampled,
                                   DetectorFrames *decoded) {
    const bool counting = (passes & histogram_pass) != 0;
    const bool evidencing = (passes & evidence_pass) != 0 && evidence_ != nullptr;
    SampleHistogram histogram(counters_.get());
    if (resampled != nullptr) resampled->start_channel();
    if (decoded != nullptr) decoded->start_channel();
    report_speech_frames(channel, resampled, decoded);

    // Frames of this channel the histogram and the decoded pass have had: the resampler may
    // take less than a block, and then decodes part of it again.
    uint64_t taken = 0;
    auto take = [&](uint64_t first, uint64_t count) {
        const uint64_t end = first + count;
        if (end <= taken) return;
        const double *fresh = input_.get() + (taken - first);
        if (counting) histogram.add(fresh, end - taken);
        if (evidencing) evidence_[channel].add(fresh, end - taken);
        if (decoded != nullptr) decoded->push(fresh, end - taken);
        taken = end;
    };

    // With no detector only the first channel is resampled, for the error text it may give:
    // every channel's resampler fails alike.
    if ((passes & resampled_pass) != 0 && (resampled != nullptr || channel == 0)) {
        const char *error = resample_one_channel(
            frames_, head_.sample_rate, detector_rate, input_.get(), output_.get(), output_room_,
            [&](uint64_t first, uint64_t count) {
                decode(channel, first, count);
                take(first, count);
            },
            [&](const double *samples, size_t made) {
                if (resampled != nullptr) resampled->push(samples, made);
            });
        if (channel == 0) resampled_.resample_error = error;
    }
    if (counting || decoded != nullptr || evidencing) {
        while (taken < frames_) {
            const uint64_t first = taken;
            const uint64_t count = std::min(frames_ - first, resample_block_frames);
            decode(channel, first, count);
            take(first, count);
        }
    }

    if (counting) {
        coefficients_[channel] = histogram.clipping_coefficient();
        histogram.clear();
    }
    if (resampled != nullptr) {
        resampled_.channels[channel] = resampled->figures();
        resampled_.frame_errors += resampled->figures().error_count;
    }
    if (decoded != nullptr) {
        decoded_.channels[channel] = decoded->figures();
        decoded_.frame_errors += decoded->figures().error_count;
    }
}

void PayloadAnalysis::report_speech_frames(uint64_t channel, DetectorFrames *resampled,
                                           DetectorFrames *decoded) {
    if (!segments_in_this_walk_) return;
    DetectorFrames *frames = speech_pass_ == resampled_pass ? resampled : decoded;
    if (frames != nullptr) frames->report_decisions(record_speech_frame, &segments_[channel]);
}

void PayloadAnalysis::decode(uint64_t channel, uint64_t first, uint64_t count) {
    if (source_ != nullptr) {
        source_->decode(channel, first, count, input_.get());
    } else {
        decode_channel(&head_, channel, first, count, input_.get());
    }
}

void PayloadAnalysis::log_detector_lines(Pass pass, const char *name, bool frame_errors) {
    DetectorFigures &figures = figures_of(pass);
    if (pass == resampled_pass && figures.resample_error != nullptr) {
        log_resample_error(name, figures.resample_error);
    }
    if (!figures.usable) {
        log_bad_sample_rate();
        return;
    }
    // Frame errors were only counted; the pass is made again to log each in its place. A
    // detector answers the same frames alike, so the figures come out the same.
    if (frame_errors && figures.frame_errors != 0) walk(pass, log_frame_error);
}

double PayloadAnalysis::telephony_border() {
    if (channels_ == 0) return 0.0;
    const Pass pass = telephony_pass();
    ensure(pass);
    // The telephony copy keeps the sound's name.
    log_detector_lines(pass, head_.name, true);
    const DetectorFigures &figures = figures_of(pass);
    if (!figures.usable) return -1.0;
    return signal_noise_of(figures.channels[0]);
}

double PayloadAnalysis::overloading_value() {
    if (channels_ == 0) return 0.0;
    ensure(histogram_pass);
    return smallest_coefficient(coefficients_.get(), channels_);
}

double *PayloadAnalysis::signal_noise_values() {
    double *result = new (std::nothrow) double[channels_];
    if (result == nullptr) {
        log_bad_sample_rate();
        return nullptr;
    }
    const Pass pass = voice_pass();
    ensure(pass);
    // The measurement's own copy has no name.
    log_detector_lines(pass, nullptr, true);
    const DetectorFigures &figures = figures_of(pass);
    for (uint64_t c = 0; c < channels_; ++c) {
        result[c] = figures.usable ? signal_noise_of(figures.channels[c]) : -1.0;
    }
    return result;
}

double PayloadAnalysis::filtered_duration() {
    const Pass pass = voice_pass();
    ensure(pass);
    log_detector_lines(pass, nullptr, false);
    const DetectorFigures &figures = figures_of(pass);
    if (!figures.usable) return -1.0;
    uint32_t longest_voiced = 0;
    for (uint64_t c = 0; c < channels_; ++c) {
        longest_voiced = std::max(longest_voiced, figures.channels[c].voiced_count);
    }
    return static_cast<double>(longest_voiced) / static_cast<double>(detector_rate);
}

void PayloadAnalysis::keep_evidence(ChannelEvidence *evidence, SpeechSegments *segments) {
    if (!ready_) return;
    evidence_ = evidence;
    segments_ = segments;
    planned_passes_ |= evidence_pass;
    // Speech is read from the pass the voice measurements use; when the check makes only the
    // telephony border's pass, from that one (at 8000 Hz the resampler hands back its input).
    const Pass voice = voice_pass();
    if ((planned_passes_ & voice) != 0) {
        speech_pass_ = voice;
    } else if ((planned_passes_ & resampled_pass) != 0) {
        speech_pass_ = resampled_pass;
    } else {
        speech_pass_ = 0;
    }
}

void PayloadAnalysis::complete_evidence() {
    if (evidence_ == nullptr || (done_ & evidence_pass) != 0) return;
    walk(evidence_pass, nullptr);
}

double PayloadAnalysis::speech_seconds(uint64_t channel) const {
    if (speech_pass_ == 0 || (done_ & speech_pass_) == 0 || channel >= channels_) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const DetectorFigures &figures = speech_pass_ == resampled_pass ? resampled_ : decoded_;
    if (!figures.usable) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(figures.channels[channel].voiced_count) /
           static_cast<double>(detector_rate);
}
