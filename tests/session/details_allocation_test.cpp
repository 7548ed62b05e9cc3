// A detailed check with each of its non-throwing allocations failing in turn: the check answers
// as it does without details (or as a measurement out of memory), its details are either whole
// and equal to those of a check with memory or absent (logged), nothing leaks (the sanitizer
// build watches) and the session works afterwards. Replaces the non-throwing new and new[], so
// it runs in a program of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <iterator>
#include <new>
#include <string>

#include "session_test_support.h"
#include "support/failing_allocator.h"
#include "support/wav_bytes.h"

using test_support::allocations_until_failure;

namespace {

using test_support::Bytes;

class FileSession : public test_support::OwnedSession {
public:
    FileSession() { created_ = v_create_session(&session_, SONARA_SOURCE_DIR "/config"); }
};

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// The whole details, compared field by field and segment by segment.
void expect_equal(const SonaraDetails &got, const SonaraDetails &expected) {
    ASSERT_EQ(got.measured, expected.measured);
    ASSERT_EQ(got.channel_count, expected.channel_count);
    for (uint32_t c = 0; c < got.channel_count; ++c) {
        const SonaraChannelDetails &a = got.channels[c];
        const SonaraChannelDetails &b = expected.channels[c];
        EXPECT_TRUE(same(a.peak_dbfs, b.peak_dbfs) && same(a.rms_dbfs, b.rms_dbfs) &&
                    same(a.dc_offset, b.dc_offset) && same(a.speech_seconds, b.speech_seconds));
        EXPECT_EQ(a.clipped_samples, b.clipped_samples);
        EXPECT_EQ(a.frames, b.frames);
        ASSERT_EQ(a.segment_count, b.segment_count);
        for (uint64_t i = 0; i < a.segment_count; ++i) {
            EXPECT_EQ(a.segments[i].start, b.segments[i].start);
            EXPECT_EQ(a.segments[i].end, b.segments[i].end);
        }
    }
}

struct Snapshot {
    bool passed;
    int32_t state;
};

TEST(DetailsAllocationFailure, EachFailureKeepsTheCheckAndDropsOnlyWholeDetails) {
    std::ifstream in(SONARA_SOURCE_DIR "/samples/clean_8000_stereo.wav", std::ios::binary);
    const Bytes sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(sample.size(), 44u);

    FileSession reference;
    ASSERT_TRUE(reference.created());
    ASSERT_TRUE(v_set_details(&reference.record(), SONARA_DETAILS_EVIDENCE | SONARA_DETAILS_SEGMENTS));
    const Snapshot expected{v_check_all(&reference.record(), sample.data(), sample.size()),
                            reference.record().state};
    const SonaraDetails *expected_details = nullptr;
    ASSERT_TRUE(v_details_session(&reference.record(), &expected_details));

    FileSession live;
    ASSERT_TRUE(live.created());
    ASSERT_TRUE(v_set_details(&live.record(), SONARA_DETAILS_EVIDENCE | SONARA_DETAILS_SEGMENTS));
    int dropped = 0;
    int failed_runs = 0;
    for (long fail_at = 0; fail_at < 400; ++fail_at) {
        SCOPED_TRACE(fail_at);
        LogCapture log;
        allocations_until_failure = fail_at;
        const bool passed = v_check_all(&live.record(), sample.data(), sample.size());
        const bool reached = allocations_until_failure.load() < 0;
        allocations_until_failure = -1;
        if (!reached) {
            EXPECT_EQ(passed, expected.passed);
            break;
        }
        ++failed_runs;
        const SonaraDetails *details = nullptr;
        const bool kept = v_details_session(&live.record(), &details);
        if (kept) {
            // A measurement that ran out of memory ends the check as a failed decoding; whole
            // details come with a check that went through as with memory.
            if (live.record().state == expected.state) expect_equal(*details, *expected_details);
        } else {
            ++dropped;
            EXPECT_EQ(details, nullptr);
            EXPECT_GE(log.find("ERROR", "check_details.cpp", "Not enough memory for the details"), 0)
                << "dropped details are logged";
            // The details' own memory never changes the check's answer.
            if (live.record().state != STATE_UNPACK_FAILED) {
                EXPECT_EQ(passed, expected.passed);
                EXPECT_EQ(live.record().state, expected.state);
            }
        }
    }
    EXPECT_GT(failed_runs, 5);
    EXPECT_GE(dropped, 5) << "the record arrays and the segment lists' growth";

    // With memory back the same session gives the whole details again.
    EXPECT_EQ(v_check_all(&live.record(), sample.data(), sample.size()), expected.passed);
    const SonaraDetails *details = nullptr;
    ASSERT_TRUE(v_details_session(&live.record(), &details));
    expect_equal(*details, *expected_details);
}

}  // namespace
