#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "libcommon.h"

namespace {

// Runs one printer into memory and returns what it wrote.
template <typename Printer>
std::string printed(Printer printer, const char *version, const char *hash, const Session *session,
                    const SessionValue *first) {
    char *buffer = nullptr;
    size_t length = 0;
    FILE *stream = open_memstream(&buffer, &length);
    printer(stream, version, hash, session, first);
    std::fclose(stream);
    std::string text(buffer, length);
    std::free(buffer);
    return text;
}

TEST(StateNames, SlotStates) {
    EXPECT_STREQ(state_name(0), "not evaluated");
    EXPECT_STREQ(state_name(1), "passed");
    EXPECT_STREQ(state_name(2), "failed");
    for (int code : {-1, 3, 101}) EXPECT_STREQ(state_name(code), "unknown") << code;
}

TEST(StateNames, EverySessionCodeOfBothLibraries) {
    struct Case {
        int code;
        const char *name;
    };
    const Case cases[] = {
        {STATE_OK, "STATE_OK"},
        {STATE_BAD_SESSION, "STATE_BAD_SESSION"},
        {STATE_BAD_CONFIGURATION, "STATE_BAD_CONFIGURATION"},
        {STATE_CONTENT_FAILED, "STATE_CONTENT_FAILED"},
        {STATE_HEAD_FAILED, "STATE_HEAD_FAILED"},
        {STATE_UNPACK_FAILED, "STATE_UNPACK_FAILED"},
        {STATE_SIGNAL_NOISE_FAILED, "STATE_SIGNAL_NOISE_FAILED"},
        {STATE_CHANNELS_FAILED, "STATE_CHANNELS_FAILED"},
        {STATE_SAMPLE_RATE_FAILED, "STATE_SAMPLE_RATE_FAILED"},
        {STATE_DEPTH_FAILED, "STATE_DEPTH_FAILED"},
        {STATE_LENGTH_FAILED, "STATE_LENGTH_FAILED"},
        {STATE_DURATION_FAILED, "STATE_DURATION_FAILED"},
        {STATE_TELEPHONY_BORDER_FAILED, "STATE_TELEPHONY_BORDER_FAILED"},
        {STATE_OVERLOAD_BORDER_FAILED, "STATE_OVERLOAD_BORDER_FAILED"},
        {STATE_VOICE_DURATION_FAILED, "STATE_VOICE_DURATION_FAILED"},
        {120, "STATE_WIDTH_FAILED"},
        {121, "STATE_HEIGHT_FAILED"},
        {1, "UNKNOWN"},
        {100, "UNKNOWN"},
        {115, "UNKNOWN"},
        {122, "UNKNOWN"},
        {-1, "UNKNOWN"},
    };
    for (const Case &c : cases) EXPECT_STREQ(session_state_name(c.code), c.name) << c.code;
}

// A three-slot chain: a plain slot, a switched-off failed slot, a slot with a text.
class PrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        session_.state = STATE_SIGNAL_NOISE_FAILED;
        slots_[0] = {"length", true, SESSION_VALUE_PASSED, 96.125, nullptr, &slots_[1]};
        slots_[1] = {"overload", false, SESSION_VALUE_FAILED, 0.5, nullptr, &slots_[2]};
        slots_[2] = {"signal_noise", true, SESSION_VALUE_FAILED, 12, text_, nullptr};
    }

    Session session_{};
    SessionValue slots_[3]{};
    char text_[16] = "12.0, 31.5";
};

TEST_F(PrintTest, GoldenLinesForBothLibraries) {
    const std::string expected =
        "state=106 STATE_SIGNAL_NOISE_FAILED config=2026.12 hash=3f2a9c0e11b7; length=96.125 passed; "
        "overload=0.5 failed (off); signal_noise=12 failed [12.0, 31.5]";
    const char *hash = "3f2a9c0e11b7d4e5f60718293a4b5c6d";
    EXPECT_EQ(printed(print_sound_result, "2026.12", hash, &session_, slots_), expected);
    EXPECT_EQ(printed(print_photo_result, "2026.12", hash, &session_, slots_), expected);
}

TEST_F(PrintTest, MissingPartsAndUnusualValues) {
    session_.state = 120;  // a photo code
    slots_[0].next = nullptr;
    slots_[0].value = 1e-7;
    EXPECT_EQ(printed(print_photo_result, "v1", "abc", &session_, slots_),
              "state=120 STATE_WIDTH_FAILED config=v1 hash=abc; length=1e-07 passed");
    EXPECT_EQ(printed(print_sound_result, nullptr, nullptr, &session_, nullptr),
              "state=120 STATE_WIDTH_FAILED config=unknown hash=unknown; no results");
    EXPECT_EQ(printed(print_sound_result, "v1", "0123456789abcdef", nullptr, nullptr),
              "state=? config=v1 hash=0123456789ab; no results");

    slots_[0].name = nullptr;
    slots_[0].state = 7;
    slots_[0].value = -1.0;
    EXPECT_EQ(printed(print_sound_result, "v1", "", &session_, slots_),
              "state=120 STATE_WIDTH_FAILED config=v1 hash=; unknown=-1 unknown");
    print_sound_result(nullptr, "v1", "h", &session_, slots_);  // no stream: nothing to do
}

TEST_F(PrintTest, LoopingChainEndsTheLine) {
    slots_[2].next = &slots_[0];
    const std::string line = printed(print_sound_result, "v", "h", &session_, slots_);
    EXPECT_EQ(line.substr(line.size() - 5), "; ...");
    EXPECT_LT(line.size(), 100000u);
}

}  // namespace
