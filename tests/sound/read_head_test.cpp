// The RIFF/WAVE walk: what read_head accepts, what it refuses and with which message.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sound.h"
#include "wav_builder.h"

namespace {

using wav::Bytes;
using wav::Format;

// The content in a heap block of exactly its size, so AddressSanitizer sees any read past it.
std::unique_ptr<unsigned char[]> exact_copy(const Bytes &bytes, size_t length) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[length]);
    std::memcpy(copy.get(), bytes.data(), length);
    return copy;
}

size_t count_lines(const std::string &log, const std::string &level) {
    size_t count = 0;
    for (size_t at = log.find(level + " sound.cpp:"); at != std::string::npos;
         at = log.find(level + " sound.cpp:", at + 1)) {
        ++count;
    }
    return count;
}

Bytes with_id(Bytes bytes, const char *id) {
    std::memcpy(bytes.data(), id, 4);
    return bytes;
}

const Format mono16{};  // 16000 Hz, 16-bit, block align 2, 32000 bytes per second

struct Refused {
    const char *name;
    Bytes content;
    std::string message;
};

void PrintTo(const Refused &row, std::ostream *out) { *out << row.name; }

class ReadHeadRefuses : public testing::TestWithParam<Refused> {};

TEST_P(ReadHeadRefuses, WithOneErrorLineAndNoPayload) {
    const Refused &row = GetParam();
    const auto content = exact_copy(row.content, row.content.size());
    wav::LogCapture log;
    Head head;
    std::memset(&head, 0x5a, sizeof head);  // read_head must clear whatever was there

    EXPECT_FALSE(read_head(content.get(), row.content.size(), &head));

    const std::string text = log.text();
    EXPECT_TRUE(wav::has_line(text, "ERROR", row.message)) << text;
    EXPECT_EQ(count_lines(text, "ERROR"), 1u) << text;
    EXPECT_EQ(head.data, nullptr);
    EXPECT_EQ(head.name, nullptr);
    EXPECT_EQ(head.duration, 0.0);
}

const Bytes plain = wav::pcm16_file(mono16, wav::pcm16({1, 2}));  // 48 bytes, payload at 44

INSTANTIATE_TEST_SUITE_P(
    Table, ReadHeadRefuses,
    testing::Values(
        Refused{"eleven_bytes", Bytes(plain.begin(), plain.begin() + 11),
                "[parser ] Little content size for parse wav base struct"},
        Refused{"rifx", with_id(plain, "RIFX"), "[parser ] Chunk: 0x04x not equals RIFF header"},
        Refused{"rf64", with_id(plain, "RF64"), "[parser ] Chunk: 0x04x not equals RIFF header"},
        Refused{"twelve_bytes", wav::riff({}), "[parser] Data size was 0 or byte per second is 0"},
        Refused{"data_before_fmt",
                wav::riff({wav::data_chunk(wav::pcm16({1, 2})), wav::fmt_chunk(mono16)}),
                "[parser] Data size was 4 or byte per second is 0"},
        Refused{"fmt_without_data", wav::riff({wav::fmt_chunk(mono16)}),
                "[parser] Data size was 0 or byte per second is 32000"},
        Refused{"data_size_zero", wav::riff({wav::fmt_chunk(mono16), wav::data_chunk({})}),
                "[parser] Data size was 0 or byte per second is 32000"},
        // Only the 16 base bytes exist; the walk resumes beyond the content and ends.
        Refused{"fmt_size_all_ones",
                wav::riff({wav::fmt_chunk(mono16, 0xFFFFFFFF), wav::data_chunk(wav::pcm16({1}))}),
                "[parser] Data size was 0 or byte per second is 32000"},
        Refused{"data_past_end",
                wav::riff({wav::fmt_chunk(mono16), wav::data_chunk(wav::pcm16({1, 2}), 100)}),
                "[parser ] Guard. Next 100 bytes more then 48 length (144 >= 48)"},
        // 44 + 0xFFFFFFFF wraps to 43 once narrowed to int.
        Refused{"data_size_all_ones",
                wav::riff({wav::fmt_chunk(mono16),
                           wav::data_chunk(wav::pcm16({1, 2}), 0xFFFFFFFF)}),
                "[parser ] Guard. Next -1 bytes more then 48 length (43 >= 48)"},
        Refused{"data_size_field_cut",
                wav::riff({wav::fmt_chunk(mono16), Bytes{'d', 'a', 't', 'a', 4, 0}}),
                "[parser ] Guard. Next 4 bytes more then 42 length (44 >= 42)"},
        Refused{"chunk_id_cut", wav::riff({wav::fmt_chunk(mono16), Bytes{'d', 'a'}}),
                "[parser ] Guard. Next 4 bytes more then 38 length (40 >= 38)"},
        Refused{"fmt_cut_in_sample_rate",
                Bytes(plain.begin(), plain.begin() + 26),
                "[parser ] Guard. Next 4 bytes more then 26 length (28 >= 26)"},
        Refused{"fmt_extension_past_end",
                wav::riff({wav::fmt_chunk(mono16, 18, Bytes{10, 0, 1, 2})}),
                "[parser ] Guard. Next 10 bytes more then 40 length (48 >= 40)"},
        Refused{"unknown_chunk_past_end",
                wav::riff({wav::fmt_chunk(mono16), wav::chunk("LIST", Bytes{1, 2, 3, 4}, 50)}),
                "[parser ] Guard. Next 50 bytes more then 48 length (94 >= 48)"},
        Refused{"unknown_chunk_size_all_ones",
                wav::riff({wav::fmt_chunk(mono16),
                           wav::chunk("junk", Bytes{1, 2, 3, 4}, 0xFFFFFFFF)}),
                "[parser ] Guard. Next -1 bytes more then 48 length (43 >= 48)"}),
    [](const testing::TestParamInfo<Refused> &info) { return std::string(info.param.name); });

struct Accepted {
    const char *name;
    Bytes content;
    Head expected;  // format fields and data_size; data, name and duration are checked apart
    uint64_t data_offset;
};

void PrintTo(const Accepted &row, std::ostream *out) { *out << row.name; }

class ReadHeadAccepts : public testing::TestWithParam<Accepted> {};

TEST_P(ReadHeadAccepts, FormatFieldsAndPayloadPosition) {
    const Accepted &row = GetParam();
    const auto content = exact_copy(row.content, row.content.size());
    wav::LogCapture log;
    Head head;

    ASSERT_TRUE(read_head(content.get(), row.content.size(), &head)) << log.text();

    const Head &want = row.expected;
    EXPECT_EQ(head.riff_size, row.content.size() - 8);
    EXPECT_EQ(head.riff_format, want.riff_format);
    EXPECT_EQ(head.audio_format, want.audio_format);
    EXPECT_EQ(head.fmt_size, want.fmt_size);
    EXPECT_EQ(head.channels, want.channels);
    EXPECT_EQ(head.sample_rate, want.sample_rate);
    EXPECT_EQ(head.byte_rate, want.byte_rate);
    EXPECT_EQ(head.block_align, want.block_align);
    EXPECT_EQ(head.bits_per_sample, want.bits_per_sample);
    EXPECT_EQ(head.data_size, want.data_size);
    EXPECT_EQ(head.data, content.get() + row.data_offset);
    EXPECT_EQ(head.name, nullptr);
    EXPECT_EQ(count_lines(log.text(), "ERROR"), 0u) << log.text();
}

constexpr uint32_t wave = 0x45564157;  // "WAVE"

Head fields(uint32_t riff_format, uint32_t audio_format, uint32_t fmt_size, uint16_t channels,
            uint32_t sample_rate, uint16_t bits, uint16_t block_align, uint32_t data_size) {
    Head head{};
    head.riff_format = riff_format;
    head.audio_format = audio_format;
    head.fmt_size = fmt_size;
    head.channels = channels;
    head.sample_rate = sample_rate;
    head.byte_rate = sample_rate * block_align;
    head.bits_per_sample = bits;
    head.block_align = block_align;
    head.data_size = data_size;
    return head;
}

const Format stereo44{1, 2, 44100, 16};
const Format extensible24{0xFFFE, 2, 48000, 24};

// cbSize 22, 24 valid bits, front left and right, then the 16-byte sub-format identifier.
Bytes extensible_tail() {
    Bytes tail;
    wav::put_le16(tail, 22);
    wav::put_le16(tail, 24);
    wav::put_le32(tail, 3);
    const unsigned char pcm_guid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0,
                                        0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    tail.insert(tail.end(), pcm_guid, pcm_guid + 16);
    return tail;
}

const Bytes odd_list = wav::chunk("LIST", Bytes(25, 'i'));

INSTANTIATE_TEST_SUITE_P(
    Table, ReadHeadAccepts,
    testing::Values(
        Accepted{"plain", wav::pcm16_file(mono16, wav::pcm16({1, 2, 3})),
                 fields(wave, 1, 16, 1, 16000, 16, 2, 6), 44},
        Accepted{"avi_form_type",
                 wav::riff({wav::fmt_chunk(mono16), wav::data_chunk(wav::pcm16({1}))}, "AVI "),
                 fields(0x20495641, 1, 16, 1, 16000, 16, 2, 2), 44},
        Accepted{"fmt18_without_extension",
                 wav::riff({wav::fmt_chunk(mono16, 18, Bytes{0, 0}),
                            wav::data_chunk(wav::pcm16({1}))}),
                 fields(wave, 1, 18, 1, 16000, 16, 2, 2), 46},
        Accepted{"fmt18_with_extension",
                 wav::riff({wav::fmt_chunk(mono16, 18, Bytes{4, 0, 'x', 'x', 'x', 'x'}),
                            wav::data_chunk(wav::pcm16({1}))}),
                 fields(wave, 1, 18, 1, 16000, 16, 2, 2), 50},
        Accepted{"fmt40_extensible_24bit",
                 wav::riff({wav::fmt_chunk(extensible24, 40, extensible_tail()),
                            wav::data_chunk(Bytes(12, 7))}),
                 fields(wave, 0xFFFE, 40, 2, 48000, 24, 6, 12), 68},
        Accepted{"odd_list_without_pad",
                 wav::riff({wav::fmt_chunk(mono16), odd_list, wav::data_chunk(wav::pcm16({1}))}),
                 fields(wave, 1, 16, 1, 16000, 16, 2, 2), 77},
        Accepted{"odd_list_with_pad",
                 wav::riff({wav::fmt_chunk(mono16), odd_list, Bytes{0},
                            wav::data_chunk(wav::pcm16({1}))}),
                 fields(wave, 1, 16, 1, 16000, 16, 2, 2), 78},
        Accepted{"second_fmt_wins",
                 wav::riff({wav::fmt_chunk(mono16), wav::fmt_chunk(stereo44),
                            wav::data_chunk(wav::pcm16({1, 2}))}),
                 fields(wave, 1, 16, 2, 44100, 16, 4, 4), 68},
        Accepted{"chunks_after_data_ignored",
                 wav::riff({wav::fmt_chunk(mono16), wav::data_chunk(wav::pcm16({1})),
                            wav::fmt_chunk(stereo44), wav::chunk("junk", {}, 0xFFFFFFFF)}),
                 fields(wave, 1, 16, 1, 16000, 16, 2, 2), 44}),
    [](const testing::TestParamInfo<Accepted> &info) { return std::string(info.param.name); });

TEST(ReadHead, UnknownChunksAreNamedAtNoticeLevel) {
    const Bytes content = wav::riff({wav::fmt_chunk(mono16), odd_list, Bytes{0},
                                     wav::data_chunk(wav::pcm16({1}))});
    wav::LogCapture log;
    Head head;
    ASSERT_TRUE(read_head(content.data(), content.size(), &head));
    EXPECT_TRUE(wav::has_line(log.text(), "NOTICE", "[parser ] Skip unknown chunk: 0x5453494c"))
        << log.text();
}

TEST(ReadHead, DurationIsDividedInSinglePrecision) {
    struct Row {
        uint32_t data_size;
        uint32_t byte_rate;
        double duration;
    };
    for (const Row &row : {Row{441001, 88200, 5.000011444091797}, Row{32000, 32000, 1.0}}) {
        Format format = mono16;
        format.byte_rate = row.byte_rate;
        const Bytes content =
            wav::riff({wav::fmt_chunk(format), wav::data_chunk(Bytes(row.data_size, 0))});
        Head head;
        ASSERT_TRUE(read_head(content.data(), content.size(), &head));
        EXPECT_EQ(head.duration, row.duration) << row.data_size << " / " << row.byte_rate;
    }
}

// A file with every kind of chunk, cut at every length: each cut is refused without a read
// past the cut (AddressSanitizer watches the exact-size copy); only the whole file parses.
TEST(ReadHead, EveryTruncationIsRefusedInsideTheContent) {
    const Bytes content = wav::riff({wav::chunk("junk", Bytes{1, 2, 3}), Bytes{0},
                                     wav::fmt_chunk(mono16, 18, Bytes{2, 0, 9, 9}), odd_list,
                                     wav::data_chunk(wav::pcm16({5, 6, 7}))});
    log_init(LOG_ERROR + 1, nullptr, 0, 0);  // one refusal line per cut is expected noise
    for (size_t length = 1; length < content.size(); ++length) {
        const auto cut = exact_copy(content, length);
        Head head;
        EXPECT_FALSE(read_head(cut.get(), length, &head)) << "length " << length;
        EXPECT_EQ(head.data, nullptr);
    }
    log_init(LOG_NOTICE, nullptr, 0, 0);
    const auto whole = exact_copy(content, content.size());
    Head head;
    ASSERT_TRUE(read_head(whole.get(), content.size(), &head));
    EXPECT_EQ(head.data + head.data_size, whole.get() + content.size());
}

TEST(CopyHead, CopiesFormatAndDurationButNotThePointers) {
    const Bytes content = wav::pcm16_file(stereo44, wav::pcm16({1, 2, 3, 4}));
    Head source;
    ASSERT_TRUE(read_head(content.data(), content.size(), &source));
    source.name = "voice.wav";
    Head copy;
    std::memset(&copy, 0x5a, sizeof copy);

    copy_head(&copy, &source);

    EXPECT_EQ(copy.data, nullptr);
    EXPECT_EQ(copy.name, nullptr);
    EXPECT_EQ(copy.duration, source.duration);
    EXPECT_EQ(copy.data_size, source.data_size);
    EXPECT_EQ(copy.riff_size, source.riff_size);
    EXPECT_EQ(copy.riff_format, source.riff_format);
    EXPECT_EQ(copy.audio_format, source.audio_format);
    EXPECT_EQ(copy.fmt_size, source.fmt_size);
    EXPECT_EQ(copy.sample_rate, source.sample_rate);
    EXPECT_EQ(copy.byte_rate, source.byte_rate);
    EXPECT_EQ(copy.channels, source.channels);
    EXPECT_EQ(copy.bits_per_sample, source.bits_per_sample);
    EXPECT_EQ(copy.block_align, source.block_align);
}

}  // namespace
