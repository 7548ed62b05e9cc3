// Voice duration, signal-to-noise and telephony border over the real detector, on the speech
// fixture, silence and noise. Expectations come from the detector driven directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "fvad.h"
#include "measure_support.h"
#include "signals.h"

namespace {

using measure::Channel;
using measure::LogCapture;
using measure::Recording;

constexpr uint32_t rate = 8000;
constexpr size_t frame_length = 80;

Channel speech() {
    const signals::Recording fixture = signals::speech_fixture();
    EXPECT_EQ(fixture.sample_rate, rate);
    EXPECT_GT(fixture.samples.size(), 2u * rate);
    return signals::to_doubles(fixture.samples);
}

Channel noisy_speech(double noise_rms) {
    const Channel clean = speech();
    return signals::mix(clean, signals::white_noise(clean.size(), noise_rms));
}

// Voiced samples of each channel as the detector decides them: mode 3 at 8000 Hz, one instance
// carried from channel to channel, frames at p = 0, 80, ... while p + 80 < N, or also the frame
// that ends on the last sample when asked.
std::vector<uint32_t> detector_voiced(const std::vector<Channel> &channels, bool with_last_frame = false) {
    std::unique_ptr<Fvad, decltype(&fvad_free)> detector(fvad_new(), &fvad_free);
    fvad_set_mode(detector.get(), 3);
    fvad_set_sample_rate(detector.get(), static_cast<int>(rate));
    std::vector<uint32_t> voiced;
    for (const Channel &channel : channels) {
        uint32_t count = 0;
        for (size_t p = 0; p + frame_length < channel.size() + (with_last_frame ? 1 : 0); p += frame_length) {
            int16_t frame[frame_length];
            for (size_t i = 0; i < frame_length; ++i) {
                frame[i] = static_cast<int16_t>(std::clamp(std::trunc(channel[p + i]), -32768.0, 32767.0));
            }
            if (fvad_process(detector.get(), frame, frame_length) == 1) count += frame_length;
        }
        voiced.push_back(count);
    }
    return voiced;
}

double longest_in_seconds(const std::vector<uint32_t> &voiced) {
    return *std::max_element(voiced.begin(), voiced.end()) / static_cast<double>(rate);
}

// The samples of recording after the resampler has brought a copy of it to 8000 Hz.
std::vector<Channel> resampled_channels(uint32_t from, const std::vector<Channel> &channels) {
    Recording copy(from, channels);
    resample_for_test(copy.head(), copy.unpack(), rate);
    std::vector<Channel> result;
    for (size_t c = 0; c < channels.size(); ++c) result.push_back(copy.channel(c));
    return result;
}

struct DurationCase {
    const char *what;
    Channel samples;
};

TEST(VoiceDuration, MonoSignalsCountWhatTheDetectorHears) {
    const DurationCase cases[] = {
        {"speech", speech()},
        {"speech in noise", noisy_speech(300)},
        {"loud white noise", signals::white_noise(2 * rate, 3000)},
        {"silence", Channel(2 * rate, 0.0)},
    };
    for (const DurationCase &row : cases) {
        SCOPED_TRACE(row.what);
        Recording recording(rate, {row.samples});
        EXPECT_EQ(get_filtered_duration(recording.head(), recording.unpack()),
                  longest_in_seconds(detector_voiced({row.samples})));
    }
    Recording silence(rate, {Channel(2 * rate, 0.0)});
    EXPECT_EQ(get_filtered_duration(silence.head(), silence.unpack()), 0.0);

    // The fixture speaks for about 1.9 s between 0.25 s of silence on either side.
    Recording spoken(rate, {speech()});
    const double seconds = get_filtered_duration(spoken.head(), spoken.unpack());
    EXPECT_GT(seconds, 1.5);
    EXPECT_LT(seconds, 2.4);
}

TEST(VoiceDuration, TenSecondsVoicedThroughoutGiveNineNinetyNine) {
    // A loud stretch of the fixture, repeated to exactly ten seconds, that the detector hears
    // as voice in every one of its 1000 frames.
    const Channel source = speech();
    Channel samples;
    while (samples.size() < 10 * rate) {
        for (size_t i = 2400; i < 12000 && samples.size() < 10 * rate; ++i) samples.push_back(source[i]);
    }
    ASSERT_EQ(detector_voiced({samples}, true)[0], 10 * rate) << "the detector must hear every frame";

    Recording recording(rate, {samples});
    EXPECT_EQ(get_filtered_duration(recording.head(), recording.unpack()), 999 * frame_length / 8000.0);
}

TEST(VoiceDuration, ShortAndEmptyRecordingsGiveZero) {
    const Channel loud = speech();
    for (size_t length : {size_t{0}, size_t{1}, size_t{79}, size_t{80}}) {
        SCOPED_TRACE(length);
        Recording recording(rate, {Channel(loud.begin() + 4000, loud.begin() + 4000 + length)});
        EXPECT_EQ(get_filtered_duration(recording.head(), recording.unpack()), 0.0);
    }
    Recording no_channels(rate, {});
    EXPECT_EQ(get_filtered_duration(no_channels.head(), no_channels.unpack()), 0.0);
}

TEST(VoiceDuration, StereoGivesTheBusiestChannelNotASum) {
    const Channel voiced = speech();
    const Channel silent(voiced.size(), 0.0);
    Recording mono(rate, {voiced});
    const double alone = get_filtered_duration(mono.head(), mono.unpack());
    ASSERT_GT(alone, 1.0);

    const std::vector<std::vector<Channel>> cases = {{voiced, silent}, {silent, voiced}, {voiced, voiced}};
    for (const std::vector<Channel> &channels : cases) {
        Recording stereo(rate, channels);
        const std::vector<uint32_t> voiced_per_channel = detector_voiced(channels);
        const double seconds = get_filtered_duration(stereo.head(), stereo.unpack());
        EXPECT_EQ(seconds, longest_in_seconds(voiced_per_channel));
        EXPECT_LT(seconds, 1.5 * alone);
    }
}

TEST(VoiceDuration, SixteenKilohertzIsMeasuredOnTheResampledCopy) {
    // Bring the fixture up to 16000 Hz, then expect what the detector hears in the copy that
    // the resampler brings back down.
    Recording up(rate, {speech()});
    resample_for_test(up.head(), up.unpack(), 16000);
    const Channel wide = up.channel(0);
    ASSERT_GT(wide.size(), 3u * rate);

    Recording recording(16000, {wide});
    const std::vector<Channel> down = resampled_channels(16000, {wide});
    ASSERT_LT(down[0].size(), wide.size() / 2 + 1);
    EXPECT_EQ(get_filtered_duration(recording.head(), recording.unpack()),
              longest_in_seconds(detector_voiced(down)));

    const std::vector<double> values = measure::signal_noise(recording.head(), recording.unpack());
    Recording expected_copy(rate, down);
    const std::vector<double> expected = measure::signal_noise(expected_copy.head(), expected_copy.unpack());
    ASSERT_EQ(values.size(), 1u);
    EXPECT_TRUE(measure::same_value(values[0], expected[0])) << values[0] << " vs " << expected[0];
}

TEST(SignalNoise, FallsAsNoiseRises) {
    double previous = INFINITY;
    for (double noise : {30.0, 100.0, 300.0, 1000.0}) {
        SCOPED_TRACE(noise);
        Recording recording(rate, {noisy_speech(noise)});
        const std::vector<double> values = measure::signal_noise(recording.head(), recording.unpack());
        ASSERT_EQ(values.size(), 1u);
        EXPECT_TRUE(std::isfinite(values[0]));
        EXPECT_LT(values[0], previous);
        previous = values[0];
    }
}

TEST(SignalNoise, SilenceHasNoSpeechAndGivesNaN) {
    Recording silence(rate, {Channel(rate, 0.0)});
    const std::vector<double> values = measure::signal_noise(silence.head(), silence.unpack());
    ASSERT_EQ(values.size(), 1u);
    EXPECT_TRUE(std::isnan(values[0]));
}

TEST(SignalNoise, ShortAndEmptyRecordings) {
    const Channel loud = speech();
    Recording one_frame(rate, {Channel(loud.begin() + 4000, loud.begin() + 4080), Channel(80, 0.0)});
    EXPECT_EQ(measure::signal_noise(one_frame.head(), one_frame.unpack()), (std::vector<double>{0.0, 0.0}));

    Recording no_channels(rate, {});
    double *values = read_signal_noise(no_channels.head(), no_channels.unpack());
    EXPECT_NE(values, nullptr);  // an array without elements
    delete[] values;
}

TEST(SignalNoise, EachChannelIsMeasuredOnItsOwn) {
    const Channel clean = noisy_speech(30);
    const Channel noisy = noisy_speech(1000);
    Recording mono(rate, {clean});
    Recording stereo(rate, {clean, noisy});
    const std::vector<double> alone = measure::signal_noise(mono.head(), mono.unpack());
    const std::vector<double> both = measure::signal_noise(stereo.head(), stereo.unpack());
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0], alone[0]);  // the first channel starts from a fresh detector
    EXPECT_GT(both[0], both[1] + 10.0);
}

TEST(EightKilohertz, VoiceAndSignalNoiseSkipTheResamplerWhileTelephonyBorderUsesIt) {
    // A header that claims one channel more than was decoded makes the resampler refuse the
    // copy, so any pass through it shows in the log and in the values.
    const Channel samples = noisy_speech(100);
    Recording recording(rate, {samples}, "caller.wav");
    recording.head()->channels = 2;

    LogCapture log;
    Recording reference(rate, {samples});
    EXPECT_EQ(get_filtered_duration(recording.head(), recording.unpack()),
              get_filtered_duration(reference.head(), reference.unpack()));
    EXPECT_EQ(measure::signal_noise(recording.head(), recording.unpack()),
              measure::signal_noise(reference.head(), reference.unpack()));
    EXPECT_EQ(log.count("ReSample"), 0u) << log.text();

    EXPECT_EQ(get_telephony_border(recording.head(), recording.unpack()), 0.0);
    EXPECT_EQ(log.count("[library] ReSample for \"caller.wav\" error: "), 1u) << log.text();
}

TEST(EightKilohertz, ResamplingErrorsNameTheSoundOnlyForTheTelephonyBorder) {
    Recording recording(0, {noisy_speech(100)}, "caller.wav");
    LogCapture log;
    EXPECT_EQ(get_filtered_duration(recording.head(), recording.unpack()), 0.0);
    EXPECT_EQ(measure::signal_noise(recording.head(), recording.unpack()), (std::vector<double>{0.0}));
    EXPECT_EQ(log.count("WARN sound.cpp:"), 2u) << log.text();
    EXPECT_EQ(log.count("[library] ReSample for \"unknown\" error: "), 2u) << log.text();

    EXPECT_EQ(get_telephony_border(recording.head(), recording.unpack()), 0.0);
    EXPECT_EQ(log.count("[library] ReSample for \"caller.wav\" error: "), 1u) << log.text();
    EXPECT_EQ(recording.head()->sample_rate, 0u);  // the caller's records stay as they were
    EXPECT_EQ(recording.unpack()->frames, noisy_speech(100).size());
}

TEST(TelephonyBorder, IsTheFirstChannelsSignalNoiseAtEightKilohertz) {
    const Channel noisy = noisy_speech(1000);
    const Channel clean = noisy_speech(30);

    // At 16000 Hz: the first element of the signal-to-noise estimate of the same recording.
    Recording up(rate, {noisy, clean});
    resample_for_test(up.head(), up.unpack(), 16000);
    Recording wide(16000, {up.channel(0), up.channel(1)});
    const std::vector<double> wide_values = measure::signal_noise(wide.head(), wide.unpack());
    const double wide_border = get_telephony_border(wide.head(), wide.unpack());
    EXPECT_TRUE(measure::same_value(wide_border, wide_values[0])) << wide_border << " vs " << wide_values[0];
    EXPECT_FALSE(measure::same_value(wide_border, wide_values[1]));

    // At 8000 Hz: the estimate of the copy after its pass from 8000 Hz to 8000 Hz.
    Recording narrow(rate, {noisy, clean});
    Recording passed(rate, resampled_channels(rate, {noisy, clean}));
    const std::vector<double> passed_values = measure::signal_noise(passed.head(), passed.unpack());
    const double narrow_border = get_telephony_border(narrow.head(), narrow.unpack());
    EXPECT_TRUE(measure::same_value(narrow_border, passed_values[0]))
        << narrow_border << " vs " << passed_values[0];
    EXPECT_LT(narrow_border, passed_values[1] - 10.0);  // the clean second channel is ignored

    Recording no_channels(rate, {});
    EXPECT_EQ(get_telephony_border(no_channels.head(), no_channels.unpack()), 0.0);
}

}  // namespace
