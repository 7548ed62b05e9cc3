// A check whose signal-to-noise estimate can't get memory: state 105, the decoded samples
// released (the leak checker of the sanitizer build watches), and the session usable afterwards.
// The non-throwing array new of this test program fails on request.
#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include "pipeline_support.h"

namespace {
std::atomic<bool> g_fail_nothrow_array_new{false};
}  // namespace

void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    if (g_fail_nothrow_array_new.load()) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete[](void *pointer, const std::nothrow_t &) noexcept { ::operator delete[](pointer); }

namespace pipeline_test {
namespace {

TEST(CheckOutOfMemory, SignalNoiseWithoutMemoryStores105AndReleasesTheSamples) {
    // Only the signal-to-noise estimate runs after the header, so the check's working memory
    // is the first allocation that fails.
    CheckedSession live(configuration({{"telephony_border", R"({ "value": 10, "enable": false })"},
                                       {"overload_border", R"({ "value": 0.5, "enable": false })"},
                                       {"voice_duration", R"({ "value": 0 })"},
                                       {"signal_noise", R"({ "value": -100 })"}}));
    ASSERT_TRUE(live.created());
    Format stereo;
    stereo.channels = 2;
    const Bytes content = tone(stereo, 2.5);

    g_fail_nothrow_array_new = true;
    const bool passed = live.check(content);
    g_fail_nothrow_array_new = false;

    EXPECT_FALSE(passed);
    EXPECT_EQ(live.record().state, STATE_UNPACK_FAILED);
    EXPECT_EQ(slot(live.record(), "sample_rate")->state, 1);
    EXPECT_EQ(slot(live.record(), "signal_noise")->state, 0) << slot_states(live.record());
    EXPECT_EQ(slot(live.record(), "voice_duration")->state, 0);

    // With memory back, the same session finishes the same check.
    EXPECT_TRUE(live.check(content)) << slot_states(live.record());
    EXPECT_EQ(live.record().state, STATE_OK);
    EXPECT_EQ(slot(live.record(), "signal_noise")->state, 1);
}

}  // namespace
}  // namespace pipeline_test
