// Headers whose decoding would cost far more than the file's bytes: refused with 105 before
// anything is allocated for them, whatever the configuration lets through, while every
// standard layout still decodes.
#include <gtest/gtest.h>

#include <string>

#include "pipeline_support.h"

namespace {

using namespace pipeline_test;

// Only the two required entries: no channels, depth, rate or duration limit stops a header.
const char kRequiredOnly[] =
    R"({ "signal_noise": { "value": 15 }, "overload_border": { "value": 0.5 } })";

struct Hostile {
    const char *name;
    Format format;
    size_t data_bytes;
    const char *refusal;  // the log line's telling part
};

void PrintTo(const Hostile &row, std::ostream *out) { *out << row.name; }

class HostileHeader : public testing::TestWithParam<Hostile> {};

TEST_P(HostileHeader, IsRefusedWith105ByTheBound) {
    const Hostile &row = GetParam();
    const Bytes file = wav(row.format, Bytes(row.data_bytes, 0x55));
    for (const std::string &text : {std::string(kRequiredOnly), configuration()}) {
        CheckedSession session(text);
        ASSERT_TRUE(session.created());
        LogCapture log;
        EXPECT_FALSE(session.check(file));
        const int state = session.record().state;
        // The default limits may stop the header earlier; past them, only the bound can answer.
        if (text == kRequiredOnly || state == STATE_UNPACK_FAILED) {
            EXPECT_EQ(state, STATE_UNPACK_FAILED) << slot_states(session.record());
            EXPECT_TRUE(log.contains(row.refusal)) << log.text();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileHeader,
    testing::Values(
        // 65,535 channels of 16-bit samples, one byte a frame: 268 million samples from 4 KB.
        Hostile{"many_channels_in_one_byte_frames", {65535, 16000, 16, -1, 1}, 4096,
                "268431360 samples declared in 4096 payload bytes"},
        // Two channels in one-byte frames: twice as many samples as bytes.
        Hostile{"stereo_in_one_byte_frames", {2, 16000, 16, 32000, 1}, 2 << 20,
                "4194304 samples declared in 2097152 payload bytes"},
        // Many channels of one sample each: the resampler's fixed state per channel would
        // dwarf the file.
        Hostile{"many_channels_of_one_sample", {29441, 16000, 8, -1, -1}, 29441,
                "29441 channels in 29441 payload bytes: fewer than 16384 bytes each"},
        Hostile{"thirty_three_short_channels", {33, 16000, 16, -1, -1}, 33 * 16000,
                "33 channels in 528000 payload bytes: fewer than 16384 bytes each"},
        // Four-bit samples over two channels.
        Hostile{"sub_byte_stereo", {2, 16000, 4, 16000, 1}, 64000,
                "128000 samples declared in 64000 payload bytes"},
        // Resampled 8000-fold to reach the detector's rate.
        Hostile{"one_hertz", {1, 1, 16, -1, -1}, 60000, "Sample rate 1 Hz is below 1000 Hz"},
        Hostile{"just_under_1000_hertz", {1, 999, 16, -1, -1}, 60000,
                "Sample rate 999 Hz is below 1000 Hz"}),
    [](const testing::TestParamInfo<Hostile> &info) { return std::string(info.param.name); });

// Standard layouts at their channel counts stay within the bound and decode as before.
TEST(BoundedDecoding, StandardLayoutsStillDecode) {
    const Format layouts[] = {
        {1, 8000, 8},   {2, 8000, 8},   {1, 16000, 16}, {2, 16000, 16}, {6, 48000, 16},
        {1, 22050, 24}, {2, 44100, 24}, {1, 16000, 32}, {8, 48000, 32}, {1, 1000, 16},
        {32, 8000, 8},  {64, 16000, 16},
    };
    CheckedSession session(kRequiredOnly);
    ASSERT_TRUE(session.created());
    for (const Format &format : layouts) {
        SCOPED_TRACE(std::to_string(format.channels) + " x " + std::to_string(format.bits_per_sample) +
                     " bits at " + std::to_string(format.sample_rate) + " Hz");
        const size_t block = format.channels * (format.bits_per_sample / 8);
        LogCapture log;
        session.check(wav(format, Bytes(block * format.sample_rate, 0x10)));  // one second
        EXPECT_NE(session.record().state, STATE_UNPACK_FAILED) << log.text();
        EXPECT_FALSE(log.contains("[unpack]")) << log.text();
    }
}

}  // namespace
