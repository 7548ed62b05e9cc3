// Every working allocation of the measurements failing in turn: each must give its documented
// answer, log it, and leave nothing allocated (the sanitizer build checks the last part).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <new>

#include "measure_support.h"
#include "signals.h"
#include "support/failing_allocator.h"

using test_support::allocations_until_failure;

namespace {

using measure::Channel;
using measure::LogCapture;
using measure::Recording;

// Runs measure with the first, second, ... allocation failing until a run goes through without
// reaching the failure, checking each failed run; answers how many runs failed.
//
// A failure inside the resampler is its own: logged as a resampling error, after which the
// measurement goes on with no samples at all.
int fail_each_allocation(const std::function<void(LogCapture &)> &measure_and_check) {
    int failed_runs = 0;
    for (long fail_at = 0; fail_at < 20; ++fail_at) {
        SCOPED_TRACE(fail_at);
        LogCapture log;
        allocations_until_failure = fail_at;
        measure_and_check(log);
        const bool reached = allocations_until_failure.load() < 0;
        allocations_until_failure = -1;
        if (!reached) break;
        ++failed_runs;
    }
    return failed_runs;
}

Channel speech() { return signals::to_doubles(signals::speech_fixture().samples); }

bool resampler_failed(const LogCapture &log) { return log.count("[library] ReSample for ") == 1; }

TEST(MeasureAllocationFailure, VoiceDurationAnswersAsARefusedRate) {
    Recording recording(16000, {speech(), speech()});
    const int runs = fail_each_allocation([&](LogCapture &log) {
        const double seconds = get_filtered_duration(recording.head(), recording.unpack());
        if (resampler_failed(log)) {
            EXPECT_EQ(seconds, 0.0);
        } else if (allocations_until_failure.load() < 0) {
            EXPECT_EQ(seconds, -1.0);
            EXPECT_EQ(log.count("ERROR sound.cpp:"), 1u) << log.text();
            EXPECT_EQ(log.count("[library] Bad sample rate"), 1u) << log.text();
        } else {
            EXPECT_GT(seconds, 1.0);
        }
    });
    EXPECT_GE(runs, 2);  // the resampler's, the frame buffer and the detector
}

TEST(MeasureAllocationFailure, SignalNoiseAnswersNullOrMinusOnes) {
    Recording recording(16000, {speech(), speech()});
    const int runs = fail_each_allocation([&](LogCapture &log) {
        double *values = read_signal_noise(recording.head(), recording.unpack());
        const bool failed = allocations_until_failure.load() < 0;
        if (values == nullptr) {
            EXPECT_TRUE(failed);
        } else if (failed && resampler_failed(log)) {
            EXPECT_EQ(values[0], 0.0);
            EXPECT_EQ(values[1], 0.0);
        } else if (failed) {
            EXPECT_EQ(values[0], -1.0);
            EXPECT_EQ(values[1], -1.0);
        } else {
            EXPECT_TRUE(std::isfinite(values[0])) << values[0];
        }
        if (failed && !resampler_failed(log)) {
            EXPECT_EQ(log.count("[library] Bad sample rate"), 1u) << log.text();
        }
        delete[] values;
    });
    EXPECT_GE(runs, 5);  // result, speech, noise, frame buffer, detector
}

TEST(MeasureAllocationFailure, TelephonyBorderAnswersMinusOne) {
    Recording recording(16000, {speech()});
    const int runs = fail_each_allocation([&](LogCapture &log) {
        const double value = get_telephony_border(recording.head(), recording.unpack());
        if (resampler_failed(log)) {
            EXPECT_EQ(value, 0.0);
        } else if (allocations_until_failure.load() < 0) {
            EXPECT_EQ(value, -1.0);
            EXPECT_EQ(log.count("[library] Bad sample rate"), 1u) << log.text();
        } else {
            EXPECT_TRUE(std::isfinite(value)) << value;
        }
    });
    EXPECT_GE(runs, 5);
}

TEST(MeasureAllocationFailure, OverloadAnswersAsClipped) {
    Recording recording(8000, {speech(), speech()});
    const int runs = fail_each_allocation([&](LogCapture &log) {
        const double value = get_overloading_value(recording.unpack());
        if (allocations_until_failure.load() < 0) {
            EXPECT_EQ(value, 1.0);
            EXPECT_EQ(log.count("ERROR sound.cpp:"), 1u) << log.text();
        } else {
            EXPECT_LT(value, 1.0);
        }
    });
    EXPECT_GE(runs, 2);  // the coefficients, the first histogram
}

}  // namespace
