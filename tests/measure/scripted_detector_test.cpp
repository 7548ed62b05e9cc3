// The measurements over a detector whose decisions the test sets, so exact values, detector
// failures and the frames the detector is handed can be checked.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "measure_support.h"
#include "scripted_fvad.h"

namespace {

using measure::Channel;
using measure::LogCapture;
using measure::Recording;

constexpr size_t frame_length = 80;

// One 80-sample frame per amplitude, alternating +a and -a, so each frame's RMS is a. With the
// scripted threshold of 100, frames of 100 or more are voice.
Channel frames_of(std::initializer_list<double> amplitudes) {
    Channel samples;
    for (double amplitude : amplitudes) {
        for (size_t i = 0; i < frame_length; ++i) samples.push_back(i % 2 == 0 ? amplitude : -amplitude);
    }
    return samples;
}

Channel operator+(Channel left, const Channel &right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

class ScriptedDetector : public ::testing::Test {
protected:
    void SetUp() override { scripted_fvad::reset(); }
    void TearDown() override { EXPECT_EQ(scripted_fvad::seen.created, scripted_fvad::seen.freed); }
};

struct SignalNoiseCase {
    const char *what;
    Channel samples;
    double expected;
};

TEST_F(ScriptedDetector, SignalToNoiseOfKnownFrames) {
    const double infinity = std::numeric_limits<double>::infinity();
    // The last whole frame ends on the last sample and is never examined: a loud one there
    // would change every value below.
    const SignalNoiseCase cases[] = {
        {"speech at RMS 1000, noise at RMS 10", frames_of({1000, 10, 1000, 10, 5000}), 40.0},
        {"mixed levels", frames_of({1000, 10, 3000, 30, 10}), 40.0},
        {"a trailing partial frame is left out",
         frames_of({1000, 10, 1000, 10}) + Channel(40, 5000.0), 40.0},
        {"noise only", frames_of({10, 10, 10, 5000}), std::nan("")},
        {"silent noise beside speech", frames_of({0, 1000, 0, 1000, 0}), infinity},
        {"speech only", frames_of({1000, 2000, 1000, 10}), 0.0},
        {"exactly one frame", frames_of({10}), 0.0},
        {"shorter than one frame", Channel(79, 10.0), 0.0},
    };
    for (const SignalNoiseCase &row : cases) {
        SCOPED_TRACE(row.what);
        Recording recording(8000, {row.samples});
        const std::vector<double> values = measure::signal_noise(recording.head(), recording.unpack());
        ASSERT_EQ(values.size(), 1u);
        if (std::isnan(row.expected)) {
            EXPECT_TRUE(std::isnan(values[0])) << values[0];
        } else {
            EXPECT_DOUBLE_EQ(values[0], row.expected);
        }
    }
}

TEST_F(ScriptedDetector, VoiceDurationOfTheBusiestChannel) {
    Recording stereo(8000, {frames_of({1000, 1000, 10, 10, 1000}), frames_of({10, 1000, 1000, 1000, 1000})});
    EXPECT_DOUBLE_EQ(get_filtered_duration(stereo.head(), stereo.unpack()), 0.03);

    // Ten seconds of voice: 999 frames are examined, the one ending on the last sample is not.
    scripted_fvad::reset();
    Recording ten_seconds(8000, {Channel(80000, 1000.0)});
    EXPECT_EQ(get_filtered_duration(ten_seconds.head(), ten_seconds.unpack()), 999 * 80 / 8000.0);
    EXPECT_EQ(scripted_fvad::seen.frames.size(), 999u);
}

TEST_F(ScriptedDetector, OneDetectorInModeThreeAtEightKilohertzServesEveryChannel) {
    const Channel channel = frames_of({1000, 10, 1000, 10, 1000, 10});  // 5 frames examined
    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which);
        scripted_fvad::reset();
        Recording recording(8000, {channel, channel});
        if (which == 0) get_filtered_duration(recording.head(), recording.unpack());
        if (which == 1) measure::signal_noise(recording.head(), recording.unpack());
        if (which == 2) get_telephony_border(recording.head(), recording.unpack());
        EXPECT_EQ(scripted_fvad::seen.created, 1);
        EXPECT_EQ(scripted_fvad::seen.mode, 3);
        EXPECT_EQ(scripted_fvad::seen.rate, 8000);
        ASSERT_EQ(scripted_fvad::seen.frames.size(), 10u);
        for (const auto &frame : scripted_fvad::seen.frames) EXPECT_EQ(frame.size(), frame_length);
    }
}

TEST_F(ScriptedDetector, UnclassifiedFrameIsLoggedBySignalToNoiseAndSkipped) {
    // The failing frame is the loudest: counted as speech it would lift the value above 40.
    scripted_fvad::script.failing_frames = {1};
    LogCapture log;
    Recording mono(8000, {frames_of({1000, 9000, 10, 1000, 10, 10})});
    const std::vector<double> values = measure::signal_noise(mono.head(), mono.unpack());
    ASSERT_EQ(values.size(), 1u);
    EXPECT_DOUBLE_EQ(values[0], 40.0);
    EXPECT_EQ(log.count("WARN sound.cpp:"), 1u) << log.text();
    EXPECT_EQ(log.count(": Ошибка фрейма 80\n"), 1u) << log.text();
}

TEST_F(ScriptedDetector, FrameErrorNamesThePositionWithinItsChannel) {
    // Three frames per channel; frame 4 overall is the second frame of channel 1, at p = 80.
    scripted_fvad::script.failing_frames = {4};
    LogCapture log;
    const Channel channel = frames_of({1000, 10, 1000, 10});
    Recording stereo(8000, {channel, channel});
    const std::vector<double> values = measure::signal_noise(stereo.head(), stereo.unpack());
    ASSERT_EQ(values.size(), 2u);
    EXPECT_DOUBLE_EQ(values[0], 40.0);
    EXPECT_DOUBLE_EQ(values[1], 0.0);  // its only noise frame was the failing one
    EXPECT_EQ(log.count(": Ошибка фрейма 80\n"), 1u) << log.text();
}

TEST_F(ScriptedDetector, UnclassifiedFrameCountsAsSilenceForVoiceDuration) {
    scripted_fvad::script.failing_frames = {0};
    LogCapture log;
    Recording mono(8000, {frames_of({1000, 1000, 1000, 1000})});
    EXPECT_DOUBLE_EQ(get_filtered_duration(mono.head(), mono.unpack()), 0.02);
    EXPECT_EQ(log.text(), "");
}

TEST_F(ScriptedDetector, UnusableDetectorAnswersMinusOne) {
    const Channel channel = frames_of({1000, 10, 1000, 10});
    for (bool fail_creation : {true, false}) {
        SCOPED_TRACE(fail_creation ? "creation fails" : "rate refused");
        scripted_fvad::reset();
        scripted_fvad::script.fail_creation = fail_creation;
        scripted_fvad::script.refuse_rate = !fail_creation;
        LogCapture log;
        Recording stereo(8000, {channel, channel});

        EXPECT_EQ(get_filtered_duration(stereo.head(), stereo.unpack()), -1.0);
        EXPECT_EQ(measure::signal_noise(stereo.head(), stereo.unpack()),
                  (std::vector<double>{-1.0, -1.0}));
        EXPECT_EQ(get_telephony_border(stereo.head(), stereo.unpack()), -1.0);
        EXPECT_EQ(log.count("ERROR sound.cpp:"), 3u) << log.text();
        EXPECT_EQ(log.count(": [library] Bad sample rate\n"), 3u) << log.text();
        EXPECT_TRUE(scripted_fvad::seen.frames.empty());
        EXPECT_EQ(scripted_fvad::seen.created, scripted_fvad::seen.freed);
    }
}

TEST_F(ScriptedDetector, FrameSamplesAreTruncatedAndHeldInsideTheSixteenBitRange) {
    // Overshoots beyond the 16-bit range must stay at its edge: wrapping would turn the
    // loudest samples into the loudest of the opposite sign.
    const Channel pattern{32768.7, -32768.7, 32767.4, -32767.9, 1.9, -1.9, 0.4, 40000.0, -1e9, 70000.0};
    const std::vector<int16_t> expected{32767, -32768, 32767, -32767, 1, -1, 0, 32767, -32768, 32767};
    Channel samples;
    std::vector<int16_t> expected_frame;
    while (samples.size() < frame_length) {
        samples.insert(samples.end(), pattern.begin(), pattern.end());
        expected_frame.insert(expected_frame.end(), expected.begin(), expected.end());
    }
    samples.resize(2 * frame_length, 0.0);  // one frame examined
    expected_frame.resize(frame_length);

    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which == 0 ? "voice duration" : "signal to noise");
        scripted_fvad::reset();
        Recording mono(8000, {samples});
        if (which == 0) get_filtered_duration(mono.head(), mono.unpack());
        if (which == 1) measure::signal_noise(mono.head(), mono.unpack());
        ASSERT_EQ(scripted_fvad::seen.frames.size(), 1u);
        EXPECT_EQ(scripted_fvad::seen.frames[0], expected_frame);
    }
}

}  // namespace
