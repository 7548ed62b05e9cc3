// The resampler is fed in blocks; a whole-signal soxr_process call, as the resampling has always
// been made, must give the same produced count and the same samples bit for bit. resample_payload
// is local to its unit, so the unit is compiled in.
#include "sound.cpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "synthetic_speech.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

struct Reference {
    std::vector<std::vector<double>> channels;  // the whole output buffer, zero tail included
    uint64_t produced = 0;
};

// One soxr_process over the whole signal, all input taken, no flush.
Reference whole_signal_call(const std::vector<std::vector<double>> &input, uint32_t from) {
    Reference reference;
    const uint64_t frames = input.empty() ? 0 : input[0].size();
    uint64_t length = 0;
    EXPECT_TRUE(resampled_length(frames, from, 8000, &length));
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io_spec = soxr_io_spec(SOXR_FLOAT64_S, SOXR_FLOAT64_S);
    soxr_t resampler = soxr_create(from, 8000, static_cast<unsigned>(input.size()), &error,
                                   &io_spec, nullptr, nullptr);
    std::vector<const double *> in;
    std::vector<double *> out;
    reference.channels.assign(input.size(), std::vector<double>(length + 1, 0.0));
    for (size_t c = 0; c < input.size(); ++c) {
        in.push_back(input[c].data());
        out.push_back(reference.channels[c].data());
    }
    size_t produced = 0;
    EXPECT_EQ(soxr_process(resampler, in.data(), frames, nullptr, out.data(), length, &produced),
              nullptr);
    soxr_delete(resampler);
    reference.produced = produced;
    for (auto &channel : reference.channels) channel.resize(length);
    return reference;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Row {
    uint32_t rate;
    uint16_t channels;
    uint64_t frames;
};

TEST(BlockFedResampler, MatchesOneWholeSignalCall) {
    const std::vector<int16_t> speech = synthetic::load_mono_samples(
        std::string(SONARA_SOURCE_DIR) + "/tests/fixtures/speech_8k.wav");
    ASSERT_FALSE(speech.empty());
    const uint64_t block = resample_block_frames;
    std::vector<Row> rows;
    for (const uint32_t rate : {1000u, 7999u, 8000u, 11025u, 16000u, 22050u, 44100u, 48000u, 96000u}) {
        // The rates under 8000 Hz, fed in smaller blocks, are for the plain build: the sanitizer
        // build, many times slower, keeps to the others.
        if (kSanitized && rate < 8000) continue;
        for (const uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
            // Nothing, under a frame, either side of one and of several blocks, and a minute.
            for (const uint64_t frames : {uint64_t{0}, uint64_t{1}, uint64_t{79}, block - 1, block,
                                          block + 1, 3 * block + 17, uint64_t{rate} * 60}) {
                rows.push_back({rate, channels, frames});
            }
        }
    }
    for (const Row &row : rows) {
        const std::string label = std::to_string(row.rate) + " Hz, " + std::to_string(row.channels) +
                                  " channels, " + std::to_string(row.frames) + " frames";
        const std::vector<int16_t> frames = synthetic::make_frames(
            synthetic::Kind::voiced, row.rate, row.channels, row.frames, speech);
        std::vector<std::vector<double>> input(row.channels, std::vector<double>(row.frames));
        for (uint64_t i = 0; i < row.frames; ++i) {
            for (uint16_t c = 0; c < row.channels; ++c) input[c][i] = frames[i * row.channels + c];
        }
        const Reference reference = whole_signal_call(input, row.rate);

        Head head{};
        head.sample_rate = row.rate;
        head.channels = row.channels;
        Unpack unpack{};
        unpack.channel_count = row.channels;
        unpack.frames = row.frames;
        unpack.payload = static_cast<double **>(std::calloc(row.channels, sizeof(double *)));
        for (uint16_t c = 0; c < row.channels; ++c) {
            unpack.payload[c] = static_cast<double *>(std::malloc((row.frames + 1) * sizeof(double)));
            std::copy(input[c].begin(), input[c].end(), unpack.payload[c]);
        }
        resample_payload(&head, &unpack, 8000);

        EXPECT_EQ(unpack.frames, reference.produced) << label;
        EXPECT_EQ(head.sample_rate, 8000u) << label;
        // The whole buffer: what was produced and the zeros after it.
        for (uint16_t c = 0; c < row.channels; ++c) {
            const std::vector<double> &expected = reference.channels[c];
            uint64_t mismatches = 0;
            for (uint64_t i = 0; i < expected.size(); ++i) {
                if (!same_bits(unpack.payload[c][i], expected[i])) ++mismatches;
            }
            EXPECT_EQ(mismatches, 0u) << label << ", channel " << c;
        }
        free_unpack(&unpack);
    }
}

// The check resamples one channel at a time, each through a resampler of its own, so that the
// detector can take channel 0 whole before channel 1 while nothing of either is held. Against
// resample_channels over all channels at once: the same samples bit for bit, the same count
// (what the filter still holds at the end is left out alike), and no call ever fills the output
// room it was given, so the room never limits what a call takes or gives.
TEST(BlockFedResampler, OneChannelAtATimeMatchesAllChannelsAtOnce) {
    const std::vector<int16_t> speech = synthetic::load_mono_samples(
        std::string(SONARA_SOURCE_DIR) + "/tests/fixtures/speech_8k.wav");
    ASSERT_FALSE(speech.empty());
    const uint64_t block = resample_block_frames;
    std::vector<Row> rows;
    for (const uint32_t rate : {1000u, 7999u, 8000u, 11025u, 16000u, 22050u, 32000u, 44100u,
                                48000u, 88200u, 96000u, 176400u, 192000u}) {
        for (const uint16_t channels : {uint16_t{2}, uint16_t{3}}) {
            // Thirty seconds in the plain build; five, still many blocks, under the sanitizers.
            const uint64_t longest = uint64_t{rate} * (kSanitized ? 5 : 30);
            for (const uint64_t frames : {uint64_t{0}, uint64_t{1}, uint64_t{79}, block - 1, block,
                                          block + 1, 3 * block + 17, longest}) {
                rows.push_back({rate, channels, frames});
            }
        }
    }
    std::vector<double> input(block);
    for (const Row &row : rows) {
        const std::string label = std::to_string(row.rate) + " Hz, " + std::to_string(row.channels) +
                                  " channels, " + std::to_string(row.frames) + " frames";
        const std::vector<int16_t> frames = synthetic::make_frames(
            synthetic::Kind::voiced, row.rate, row.channels, row.frames, speech);
        std::vector<std::vector<double>> channels(row.channels, std::vector<double>(row.frames));
        std::vector<double *> pointers;
        for (uint16_t c = 0; c < row.channels; ++c) {
            for (uint64_t i = 0; i < row.frames; ++i) channels[c][i] = frames[i * row.channels + c];
            pointers.push_back(channels[c].data());
        }
        ResampledChannels all = resample_channels(pointers.data(), row.channels, row.frames,
                                                  row.rate, 8000);
        ASSERT_NE(all.channels, nullptr) << label;
        EXPECT_EQ(all.error, nullptr) << label;

        const uint64_t room = one_channel_output_room(row.frames, row.rate, 8000);
        uint64_t length = 0;
        ASSERT_TRUE(resampled_length(row.frames, row.rate, 8000, &length));
        std::vector<double> output(room);
        for (uint16_t c = 0; c < row.channels; ++c) {
            std::vector<double> alone;
            bool filled = false;
            const char *error = resample_one_channel(
                row.frames, row.rate, 8000, input.data(), output.data(), room,
                [&](uint64_t first, uint64_t count) {
                    std::copy_n(channels[c].begin() + static_cast<std::ptrdiff_t>(first), count,
                                input.begin());
                },
                [&](const double *samples, size_t made) {
                    // A full room short of the whole channel could have held more back.
                    filled = filled || (made == room && alone.size() + room < length);
                    alone.insert(alone.end(), samples, samples + made);
                });
            EXPECT_EQ(error, nullptr) << label;
            EXPECT_FALSE(filled) << label << ", channel " << c;
            ASSERT_EQ(alone.size(), all.frames) << label << ", channel " << c;
            EXPECT_TRUE(alone.empty() || std::memcmp(alone.data(), all.channels[c],
                                                     alone.size() * sizeof(double)) == 0)
                << label << ", channel " << c;
        }
        free_resampled(&all, row.channels);
    }
}

// Failures before libsoxr is reached read as they do where every channel is resampled at once.
TEST(BlockFedResampler, OneChannelFailsAsAllChannelsDo) {
    double sample = 0.0;
    double output = 0.0;
    const auto none = [](uint64_t, uint64_t) {};
    const auto ignore = [](const double *, size_t) {};
    const double *input[] = {&sample};
    ResampledChannels all = resample_channels(const_cast<double *const *>(input), 1, 1, 0, 8000);
    EXPECT_STREQ(resample_one_channel(1, 0, 8000, &sample, &output, 1, none, ignore), all.error);
    EXPECT_EQ(all.channels, nullptr);
}

// The channels the shared detector pass gets are the ones resample_payload leaves.
TEST(BlockFedResampler, SharedAndPayloadResamplingAgree) {
    const std::vector<double> samples = [] {
        std::vector<double> values(200000);
        synthetic::Noise noise(3);
        for (double &value : values) value = 8000.0 * noise.next();
        return values;
    }();
    const double *input[] = {samples.data()};
    ResampledChannels shared = resample_channels(const_cast<double *const *>(input), 1,
                                                 samples.size(), 44100, 8000);
    ASSERT_NE(shared.channels, nullptr);
    EXPECT_EQ(shared.error, nullptr);

    Head head{};
    head.sample_rate = 44100;
    head.channels = 1;
    Unpack unpack{};
    unpack.channel_count = 1;
    unpack.frames = samples.size();
    unpack.payload = static_cast<double **>(std::calloc(1, sizeof(double *)));
    unpack.payload[0] = static_cast<double *>(std::malloc(samples.size() * sizeof(double)));
    std::copy(samples.begin(), samples.end(), unpack.payload[0]);
    resample_payload(&head, &unpack, 8000);

    ASSERT_EQ(shared.frames, unpack.frames);
    EXPECT_GT(shared.frames, 30000u);
    EXPECT_EQ(std::memcmp(shared.channels[0], unpack.payload[0], shared.frames * sizeof(double)), 0);
    free_resampled(&shared, 1);
    EXPECT_EQ(shared.channels, nullptr);
    free_unpack(&unpack);
}

// From 8000 Hz to 8000 Hz libsoxr hands back its input: the same count and every sample equal,
// fed in blocks as the check feeds it, one channel at a time or all at once. This is what lets
// the telephony border of an 8000 Hz recording read the detector pass of the decoded samples.
TEST(BlockFedResampler, AtTheDetectorRateIsTheIdentity) {
    const uint64_t block = resample_block_frames_for(detector_rate, detector_rate);
    for (const uint64_t frames : {uint64_t{0}, uint64_t{1}, uint64_t{79}, uint64_t{4095}, block - 1,
                                  block, block + 1, 3 * block + 17, uint64_t{80000},
                                  uint64_t{8000} * 60}) {
        const std::string label = std::to_string(frames) + " frames";
        // Every 16-bit value a decoded sample can take, the extremes included.
        std::vector<std::vector<double>> input(2, std::vector<double>(frames));
        synthetic::Noise noise(static_cast<uint32_t>(frames) + 7);
        for (auto &channel : input) {
            for (double &value : channel) value = std::min(32767.0, std::floor(32768.0 * noise.next()));
            if (frames > 2) {
                channel[0] = -32768.0;
                channel[1] = 32767.0;
            }
        }

        std::vector<double> output(one_channel_output_room(frames, detector_rate, detector_rate));
        std::vector<double> decoded(block);
        std::vector<double> made;
        const char *error = resample_one_channel(
            frames, detector_rate, detector_rate, decoded.data(), output.data(), output.size(),
            [&](uint64_t first, uint64_t count) {
                std::copy_n(input[0].begin() + static_cast<std::ptrdiff_t>(first), count, decoded.begin());
            },
            [&](const double *samples, size_t count) { made.insert(made.end(), samples, samples + count); });
        EXPECT_EQ(error, nullptr) << label;
        ASSERT_EQ(made.size(), frames) << label;
        for (uint64_t i = 0; i < frames; ++i) {
            ASSERT_TRUE(same_bits(made[i], input[0][i])) << label << ", sample " << i;
        }

        const double *channels[] = {input[0].data(), input[1].data()};
        ResampledChannels all = resample_channels(const_cast<double *const *>(channels), 2, frames,
                                                  detector_rate, detector_rate);
        EXPECT_EQ(all.error, nullptr) << label;
        ASSERT_NE(all.channels, nullptr) << label;
        ASSERT_EQ(all.frames, frames) << label;
        for (size_t c = 0; c < 2; ++c) {
            EXPECT_TRUE(frames == 0 || std::memcmp(all.channels[c], input[c].data(), frames * sizeof(double)) == 0)
                << label << ", channel " << c;
        }
        free_resampled(&all, 2);
    }
}

}  // namespace
