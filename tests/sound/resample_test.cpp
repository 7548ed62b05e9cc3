// Resampling and the root mean square. Both are local to their unit, so the unit is compiled
// into this test.
#include "sound.cpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "wav_builder.h"

namespace {

struct Length {
    uint64_t frames;
    uint32_t from;
    uint32_t to;
    uint64_t expected;
};

TEST(ResampledLength, RoundsToTheNearestSample) {
    const Length rows[] = {
        {3, 44100, 8000, 1},         // 0.544 + 0.5
        {16000, 16000, 8000, 8000},
        {1, 16000, 8000, 1},         // exactly 0.5 rounds up
        {0, 44100, 8000, 0},
        {5, 48000, 8000, 1},         // 0.833
        {7, 48000, 8000, 1},         // 1.1666
        {44100, 44100, 8000, 8000},
        {2, 1, 4000000000u, 8000000000u},
    };
    for (const Length &row : rows) {
        uint64_t length = 12345;
        EXPECT_TRUE(resampled_length(row.frames, row.from, row.to, &length));
        EXPECT_EQ(length, row.expected) << row.frames << " frames " << row.from << " -> " << row.to;
    }
    uint64_t length = 12345;
    EXPECT_FALSE(resampled_length(uint64_t{1} << 62, 1, 4000000000u, &length));
    EXPECT_EQ(length, 0u);
}

// A decoded record of sine channels, built directly so amplitudes are exact.
struct Signal {
    Head head{};
    Unpack unpack{};

    Signal(uint32_t rate, uint64_t frames, std::vector<std::pair<double, double>> tones,
           const char *name = nullptr) {
        head.sample_rate = rate;
        head.channels = static_cast<uint16_t>(tones.size());
        head.name = name;
        unpack.frames = frames;
        unpack.times_count = frames;
        unpack.channel_count = tones.size();
        unpack.times = static_cast<double *>(std::calloc(frames + 1, sizeof(double)));
        unpack.payload = static_cast<double **>(std::calloc(tones.size() + 1, sizeof(double *)));
        for (size_t c = 0; c < tones.size(); ++c) {
            unpack.payload[c] = static_cast<double *>(std::calloc(frames + 1, sizeof(double)));
            const auto [amplitude, frequency] = tones[c];
            for (uint64_t i = 0; i < frames; ++i) {
                unpack.payload[c][i] =
                    amplitude * std::sin(2 * std::numbers::pi * frequency * i / rate);
            }
        }
    }
    ~Signal() { free_unpack(&unpack); }
};

TEST(ResamplePayload, KeepsEachChannelsAmplitudeAndTheDecodedTimes) {
    Signal signal(16000, 16000, {{10000.0, 440.0}, {3000.0, 1000.0}});
    double *const times = signal.unpack.times;
    wav::LogCapture log;

    resample_payload(&signal.head, &signal.unpack, 8000);

    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(signal.head.sample_rate, 8000u);
    EXPECT_EQ(signal.unpack.channel_count, 2u);
    EXPECT_EQ(signal.unpack.times, times);
    EXPECT_EQ(signal.unpack.times_count, 16000u);
    // Without a flush the filter keeps its tail, so fewer than 8000 come out, but most do.
    EXPECT_LE(signal.unpack.frames, 8000u);
    ASSERT_GT(signal.unpack.frames, 6000u);

    const uint64_t margin = 1000;  // away from the filter's start-up
    const uint32_t middle = static_cast<uint32_t>(signal.unpack.frames - 2 * margin);
    const double expected[] = {10000.0 / std::sqrt(2.0), 3000.0 / std::sqrt(2.0)};
    for (int c = 0; c < 2; ++c) {
        const double rms = get_root_mean_square(signal.unpack.payload[c] + margin, middle);
        EXPECT_NEAR(rms, expected[c], expected[c] * 0.01) << "channel " << c;
    }
}

TEST(ResamplePayload, FewFramesProduceAtMostTheRoundedLength) {
    Signal signal(44100, 3, {{1000.0, 100.0}});
    resample_payload(&signal.head, &signal.unpack, 8000);
    EXPECT_LE(signal.unpack.frames, 1u);
    EXPECT_EQ(signal.head.sample_rate, 8000u);
}

struct Failure {
    const char *label;
    const char *name;  // head name, null for a copied head
    uint32_t sample_rate;
    uint16_t head_channels;
    uint64_t frames;   // forced frame count; 0 keeps the decoded one
    const char *message;
};

void PrintTo(const Failure &row, std::ostream *out) { *out << row.label; }

class ResamplePayloadFails : public testing::TestWithParam<Failure> {};

// Every failure is logged with the sound's name, leaves no frames, moves the rate to the target
// and leaves a record that free_unpack releases completely (the leak checker watches).
TEST_P(ResamplePayloadFails, LogsAndLeavesAnEmptyReleasableRecord) {
    const Failure &row = GetParam();
    Signal signal(16000, 160, {{1000.0, 100.0}}, row.name);
    Head head;
    if (row.name == nullptr) {
        copy_head(&head, &signal.head);
    } else {
        head = signal.head;
    }
    head.sample_rate = row.sample_rate;
    head.channels = row.head_channels;
    if (row.frames != 0) signal.unpack.frames = row.frames;
    wav::LogCapture log;

    resample_payload(&head, &signal.unpack, 8000);

    EXPECT_TRUE(wav::has_line(log.text(), "WARN", row.message)) << log.text();
    EXPECT_EQ(signal.unpack.frames, 0u);
    EXPECT_EQ(signal.unpack.channel_count, 1u);
    EXPECT_EQ(head.sample_rate, 8000u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResamplePayloadFails,
    testing::Values(
        Failure{"named_rate_zero", "voice.wav", 0, 1, 0,
                "[library] ReSample for \"voice.wav\" error: input sample rate is 0"},
        Failure{"copied_head_rate_zero", nullptr, 0, 1, 0, "[library] ReSample for \"unknown\" error: input sample rate is 0"},
        Failure{"channel_mismatch", "voice.wav", 16000, 2, 0,
                "[library] ReSample for \"voice.wav\" error: channel count does not match the samples"},
        // An output too long to hold is refused before anything is allocated or read.
        Failure{"output_too_long", "voice.wav", 1, 1, uint64_t{1} << 62,
                "[library] ReSample for \"voice.wav\" error: out of memory"}),
    [](const testing::TestParamInfo<Failure> &info) { return std::string(info.param.label); });

// A target rate the resampler refuses: its own error text is logged, nothing is produced.
TEST(ResamplePayload, ResamplerErrorIsLoggedWithItsText) {
    Signal signal(16000, 160, {{1000.0, 100.0}}, "voice.wav");
    wav::LogCapture log;

    resample_payload(&signal.head, &signal.unpack, 0);

    EXPECT_NE(log.text().find("WARN sound.cpp:"), std::string::npos) << log.text();
    EXPECT_NE(log.text().find(": [library] ReSample for \"voice.wav\" error: "), std::string::npos);
    EXPECT_EQ(signal.unpack.frames, 0u);
    EXPECT_EQ(signal.head.sample_rate, 0u);
}

TEST(RootMeanSquare, OfValuesAndOfNothing) {
    const double values[] = {3.0, 4.0};
    EXPECT_DOUBLE_EQ(get_root_mean_square(values, 2), 3.5355339059327378);
    EXPECT_TRUE(std::isnan(get_root_mean_square(values, 0)));
}

}  // namespace
