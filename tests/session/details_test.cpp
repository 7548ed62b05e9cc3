// The speech segments of a check's details against the voice detector's own frame decisions:
// the test drives a detector itself over the decoded 8000 Hz channels (one detector for every
// channel in turn, 10 ms frames, a frame counted once a sample follows it) and merges the speech
// frames in the plainest way.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fvad.h"
#include "session_test_support.h"
#include "support/wav_bytes.h"

namespace {

using test_support::Bytes;

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Channels of a 16-bit file with a plain 44-byte header.
std::vector<std::vector<int16_t>> channels_of(const Bytes &wav) {
    const unsigned channels = wav[22] | (wav[23] << 8);
    const size_t frames = (wav.size() - 44) / (2 * channels);
    std::vector<std::vector<int16_t>> out(channels, std::vector<int16_t>(frames));
    for (size_t i = 0; i < frames; ++i) {
        for (unsigned c = 0; c < channels; ++c) {
            const size_t at = 44 + 2 * (i * channels + c);
            out[c][i] = static_cast<int16_t>(wav[at] | (wav[at + 1] << 8));
        }
    }
    return out;
}

Bytes mono_8000(const std::vector<int16_t> &samples) {
    Bytes out;
    test_support::put_canonical_wav_header(
        out, {1, 8000, 16000, 2, 16, static_cast<uint32_t>(samples.size() * 2)});
    for (int16_t x : samples) test_support::put_le16(out, static_cast<uint16_t>(x));
    return out;
}

struct Segment {
    double start, end;
    bool operator==(const Segment &other) const = default;
};

std::vector<std::vector<Segment>> detector_segments(const std::vector<std::vector<int16_t>> &channels) {
    constexpr size_t length = 80;
    Fvad *detector = fvad_new();
    EXPECT_NE(detector, nullptr);
    fvad_set_mode(detector, 3);
    fvad_set_sample_rate(detector, 8000);
    std::vector<std::vector<Segment>> out;
    for (const std::vector<int16_t> &x : channels) {
        std::vector<Segment> segments;
        bool open = false;
        for (size_t p = 0; p + length < x.size(); p += length) {
            const bool speech = fvad_process(detector, x.data() + p, length) > 0;
            if (speech && open) {
                segments.back().end = static_cast<double>(p + length) / 8000.0;
            } else if (speech) {
                segments.push_back({static_cast<double>(p) / 8000.0,
                                    static_cast<double>(p + length) / 8000.0});
            }
            open = speech;
        }
        out.push_back(segments);
    }
    fvad_free(detector);
    return out;
}

class FileSession : public test_support::OwnedSession {
public:
    FileSession() { created_ = v_create_session(&session_, SONARA_SOURCE_DIR "/config"); }
};

TEST(DetailsSegments, EqualTheDetectorsFrameDecisionsMerged) {
    const std::string samples = SONARA_SOURCE_DIR "/samples/";
    std::vector<std::pair<std::string, Bytes>> files;
    for (const char *name : {"clean_8000_stereo.wav", "noisy_right_channel_8000_stereo.wav",
                             "three_channels_8000.wav"}) {
        files.emplace_back(name, read_file(samples + name));
    }
    // Speech eight times over, a quarter second of silence after each: more segments than the
    // list first has room for.
    std::vector<int16_t> repeated;
    const std::vector<int16_t> left = channels_of(files[0].second)[0];
    for (int i = 0; i < 8; ++i) {
        repeated.insert(repeated.end(), left.begin(), left.end());
        repeated.insert(repeated.end(), 2000, 0);
    }
    files.emplace_back("speech repeated", mono_8000(repeated));

    FileSession live;
    ASSERT_TRUE(live.created());
    ASSERT_TRUE(v_set_details(&live.record(), SONARA_DETAILS_EVIDENCE | SONARA_DETAILS_SEGMENTS));
    size_t longest = 0;
    for (const auto &[name, content] : files) {
        SCOPED_TRACE(name);
        ASSERT_GT(content.size(), 44u);
        v_check_all(&live.record(), content.data(), content.size());
        const SonaraDetails *details = nullptr;
        ASSERT_TRUE(v_details_session(&live.record(), &details));
        ASSERT_TRUE(details->measured);
        const auto expected = detector_segments(channels_of(content));
        ASSERT_EQ(details->channel_count, expected.size());
        for (uint32_t c = 0; c < details->channel_count; ++c) {
            const SonaraChannelDetails &channel = details->channels[c];
            ASSERT_NE(channel.segments, nullptr);
            const std::vector<Segment> got(
                reinterpret_cast<const Segment *>(channel.segments),
                reinterpret_cast<const Segment *>(channel.segments) + channel.segment_count);
            EXPECT_EQ(got, expected[c]) << "channel " << c;
            longest = std::max(longest, got.size());
        }
    }
    EXPECT_GT(longest, 16u) << "the list never had to grow";
}

TEST(DetailsSegments, InvalidSessionsAnswerFalse) {
    Session never{};
    const SonaraDetails *details = reinterpret_cast<const SonaraDetails *>(&never);
    EXPECT_FALSE(v_set_details(&never, SONARA_DETAILS_EVIDENCE));
    EXPECT_FALSE(v_details_session(&never, &details));
    EXPECT_EQ(details, nullptr);
    EXPECT_FALSE(v_set_details(nullptr, 0));
    EXPECT_FALSE(v_details_session(nullptr, nullptr));
}

}  // namespace
