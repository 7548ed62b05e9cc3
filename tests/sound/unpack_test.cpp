// Decoding the data payload into per-channel doubles, and copying and releasing the result.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "sound.h"
#include "wav_builder.h"

namespace {

using wav::Bytes;

// A decoded-from header over an exact-size copy of the payload, so AddressSanitizer sees any
// read past the payload's end.
struct Payload {
    std::unique_ptr<unsigned char[]> bytes;
    Head head{};

    Payload(const Bytes &data, uint16_t channels, uint16_t bits, uint16_t block_align,
            uint32_t sample_rate = 16000)
        : bytes(new unsigned char[data.size() + 1]) {
        std::memcpy(bytes.get(), data.data(), data.size());
        head.data = bytes.get();
        head.data_size = static_cast<uint32_t>(data.size());
        head.channels = channels;
        head.bits_per_sample = bits;
        head.block_align = block_align;
        head.sample_rate = sample_rate;
        head.byte_rate = sample_rate * block_align;
    }
};

std::vector<double> channel(const Unpack &unpack, uint64_t c) {
    return std::vector<double>(unpack.payload[c], unpack.payload[c] + unpack.frames);
}

struct Decoding {
    const char *name;
    Bytes data;
    uint16_t channels;
    uint16_t bits;
    uint16_t block_align;
    std::vector<std::vector<double>> expected;  // per channel
};

void PrintTo(const Decoding &row, std::ostream *out) { *out << row.name; }

class ReadUnpackDecodes : public testing::TestWithParam<Decoding> {};

TEST_P(ReadUnpackDecodes, EachChannelInOrder) {
    const Decoding &row = GetParam();
    // The heap block is one byte longer than the payload; that byte must not leak into samples.
    Payload payload(row.data, row.channels, row.bits, row.block_align);
    payload.bytes[row.data.size()] = 0x7F;
    Unpack unpack;

    ASSERT_TRUE(read_unpack(&payload.head, &unpack));

    ASSERT_EQ(unpack.channel_count, row.expected.size());
    ASSERT_EQ(unpack.frames, row.expected[0].size());
    EXPECT_EQ(unpack.times_count, unpack.frames);
    for (uint64_t c = 0; c < unpack.channel_count; ++c) {
        EXPECT_EQ(channel(unpack, c), row.expected[c]) << "channel " << c;
    }
    free_unpack(&unpack);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadUnpackDecodes,
    testing::Values(
        Decoding{"stereo16_order_and_extremes",
                 Bytes{0x00, 0x80, 0xFF, 0x7F, 0x01, 0x00, 0xFE, 0xFF}, 2, 16, 4,
                 {{-32768.0, 1.0}, {32767.0, -2.0}}},
        // The two most significant bytes of each 3-byte sample: 0x8322, 0x7FFF.
        Decoding{"mono24_top_bytes", Bytes{0x11, 0x22, 0x83, 0xAA, 0xFF, 0x7F}, 1, 24, 3,
                 {{-31966.0, 32767.0}}},
        Decoding{"stereo24_top_bytes", Bytes{0x00, 0x01, 0x02, 0x00, 0x03, 0x04}, 2, 24, 6,
                 {{513.0}, {1027.0}}},
        Decoding{"mono32_top_bytes", Bytes{0x01, 0x02, 0x03, 0x40, 0xFF, 0xFF, 0x00, 0x80}, 1,
                 32, 4, {{16387.0, -32768.0}}},
        // Two whole frames; the fifth byte is a partial frame and is dropped.
        Decoding{"partial_frame_dropped", Bytes{0x01, 0x00, 0x02, 0x00, 0x09}, 1, 16, 2,
                 {{1.0, 2.0}}},
        Decoding{"shorter_than_a_frame", Bytes{0x01, 0x00, 0x02}, 2, 16, 4, {{}, {}}},
        // Each 8-bit sample is read with the byte after it; the last one has none, so 0.
        Decoding{"mono8_last_sample", Bytes{0x01, 0x02, 0x03}, 1, 8, 1,
                 {{513.0, 770.0, 3.0}}},
        // A declared block align too small for two 16-bit channels: channel 1 of the last
        // frame lies past the payload.
        Decoding{"block_align_too_small", Bytes{0x01, 0x00, 0x02, 0x00}, 2, 16, 2,
                 {{1.0, 2.0}, {2.0, 0.0}}}),
    [](const testing::TestParamInfo<Decoding> &info) { return std::string(info.param.name); });

TEST(ReadUnpack, TimesAreFrameIndexOverSampleRate) {
    Payload payload(wav::pcm16({0, 0, 0, 0}), 1, 16, 2, 16000);
    Unpack unpack;
    ASSERT_TRUE(read_unpack(&payload.head, &unpack));
    ASSERT_EQ(unpack.times_count, 4u);
    const double expected[] = {0.0, 0.0000625, 0.000125, 0.0001875};
    for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(unpack.times[i], expected[i]) << i;
    free_unpack(&unpack);
}

// A refused header leaves the record empty, whatever it held, so releasing it is safe.
TEST(ReadUnpack, BlockAlignZeroIsRefusedAndLeavesAReleasableRecord) {
    Payload payload(wav::pcm16({1, 2}), 1, 16, 0);
    Unpack unpack;
    std::memset(&unpack, 0xAB, sizeof unpack);

    EXPECT_FALSE(read_unpack(&payload.head, &unpack));

    EXPECT_EQ(unpack.payload, nullptr);
    EXPECT_EQ(unpack.times, nullptr);
    EXPECT_EQ(unpack.frames, 0u);
    EXPECT_TRUE(free_unpack(&unpack));
}

TEST(ReadUnpack, DecodesAParsedFile) {
    const Bytes file = wav::pcm16_file(wav::Format{1, 2, 8000, 16}, wav::pcm16({-5, 5, 300, -300}));
    Head head;
    ASSERT_TRUE(read_head(file.data(), file.size(), &head));
    Unpack unpack;
    ASSERT_TRUE(read_unpack(&head, &unpack));
    EXPECT_EQ(channel(unpack, 0), (std::vector<double>{-5.0, 300.0}));
    EXPECT_EQ(channel(unpack, 1), (std::vector<double>{5.0, -300.0}));
    free_unpack(&unpack);
}

TEST(FreeUnpack, NullAndRepeatedCallsAreHarmless) {
    EXPECT_TRUE(free_unpack(nullptr));

    Payload payload(wav::pcm16({1, 2, 3, 4}), 2, 16, 4);
    Unpack unpack;
    ASSERT_TRUE(read_unpack(&payload.head, &unpack));
    EXPECT_TRUE(free_unpack(&unpack));
    EXPECT_EQ(unpack.payload, nullptr);
    EXPECT_EQ(unpack.times, nullptr);
    EXPECT_EQ(unpack.channel_count, 0u);
    EXPECT_EQ(unpack.frames, 0u);
    EXPECT_EQ(unpack.times_count, 0u);
    EXPECT_TRUE(free_unpack(&unpack));  // a double free would stop AddressSanitizer here
}

TEST(CopyUnpack, CopyOutlivesAndIgnoresItsSource) {
    Payload payload(wav::pcm16({1, -1, 2, -2, 3, -3}), 2, 16, 4);
    Unpack source;
    ASSERT_TRUE(read_unpack(&payload.head, &source));
    Unpack copy;
    std::memset(&copy, 0xAB, sizeof copy);

    copy_unpack(&copy, &source);
    source.payload[0][0] = 99.0;
    source.times[1] = 99.0;
    free_unpack(&source);

    ASSERT_EQ(copy.channel_count, 2u);
    ASSERT_EQ(copy.frames, 3u);
    EXPECT_EQ(channel(copy, 0), (std::vector<double>{1.0, 2.0, 3.0}));
    EXPECT_EQ(channel(copy, 1), (std::vector<double>{-1.0, -2.0, -3.0}));
    ASSERT_EQ(copy.times_count, 3u);
    EXPECT_EQ(copy.times[1], 1.0 / 16000);
    free_unpack(&copy);
}

TEST(CopyUnpack, NoChannelsStillCopiesTimes) {
    Payload payload(Bytes{0, 0, 0, 0}, 0, 16, 2);
    Unpack source;
    ASSERT_TRUE(read_unpack(&payload.head, &source));
    ASSERT_EQ(source.channel_count, 0u);
    ASSERT_EQ(source.times_count, 2u);

    Unpack copy;
    copy_unpack(&copy, &source);

    EXPECT_NE(copy.payload, nullptr);
    EXPECT_EQ(copy.channel_count, 0u);
    ASSERT_EQ(copy.times_count, 2u);
    EXPECT_NE(copy.times, source.times);
    EXPECT_EQ(copy.times[1], source.times[1]);
    free_unpack(&source);
    free_unpack(&copy);
}

}  // namespace
