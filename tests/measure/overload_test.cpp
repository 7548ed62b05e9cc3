// The overload estimate: the histogram scan of one channel, the smallest coefficient of a
// recording, and inputs that must neither allocate absurdly nor read outside the histogram.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "measure_support.h"

namespace {

using measure::Channel;

Channel repeat(std::initializer_list<std::pair<double, int>> runs) {
    Channel samples;
    for (const auto &[value, times] : runs) samples.insert(samples.end(), times, value);
    return samples;
}

struct ClippingCase {
    const char *what;
    Channel samples;
    double coefficient;
};

TEST(Overload, ClippingCoefficientOfHistogramShapes) {
    const ClippingCase cases[] = {
        {"ends higher than the inside [3,1,1,3]", repeat({{0, 3}, {1, 1}, {2, 1}, {3, 3}}), 1.0},
        {"rising to the middle [1,2,3,2,1]", repeat({{0, 1}, {1, 2}, {2, 3}, {3, 2}, {4, 1}}), 0.0},
        {"negative values, offsets count [4,1,1,4]", repeat({{-3, 4}, {-2, 1}, {-1, 1}, {0, 4}}), 1.0},
        {"peak inside on the right [5,0,0,0,6,0,0,1]", repeat({{0, 5}, {4, 6}, {7, 1}}), 0.75},
        {"every sample the same", repeat({{-200, 7}}), 0.0},
        {"a single sample", repeat({{12345, 1}}), 0.0},
        {"two samples 0 and 1", repeat({{0, 1}, {1, 1}}), 1.0},
        {"order does not matter", Channel{3, 0, 2, 3, 0, 1, 0, 3}, 1.0},
        {"fractions fall into the bin below", Channel{0.0, 0.9, 0.5, 1.2, 2.7, 3.0, 3.99, 3.5}, 1.0},
    };
    for (const ClippingCase &row : cases) {
        SCOPED_TRACE(row.what);
        EXPECT_DOUBLE_EQ(estimate_clipping_coefficient(row.samples.data(), row.samples.size()),
                         row.coefficient);
    }
}

TEST(Overload, HistogramCountsOffsetsFromTheMinimum) {
    const Channel samples{-3, -3, -2.5, 0, -1, 0.99};
    std::vector<unsigned long> histogram(4, 0);
    create_hist(-3, samples.data(), samples.size(), histogram.data(), histogram.size());
    EXPECT_EQ(histogram, (std::vector<unsigned long>{3, 0, 1, 2}));

    // Counts add to what the histogram already holds.
    create_hist(-3, samples.data(), 1, histogram.data(), histogram.size());
    EXPECT_EQ(histogram[0], 4u);
}

TEST(Overload, HistogramLeavesOutSamplesBeyondItsBins) {
    // Guard bins on both sides catch any write outside the four that were handed over.
    std::vector<unsigned long> bins(6, 0);
    const Channel samples{0, 3, 4, 1e12, -1, -5e9, std::nan(""),
                          std::numeric_limits<double>::infinity()};
    create_hist(0, samples.data(), samples.size(), bins.data() + 1, 4);
    EXPECT_EQ(bins, (std::vector<unsigned long>{0, 1, 0, 0, 1, 0}));
}

TEST(Overload, RecordingTakesTheSmallestChannelCoefficient) {
    const Channel clipped = repeat({{0, 3}, {1, 1}, {2, 1}, {3, 3}});
    const Channel clean = repeat({{0, 1}, {1, 2}, {2, 3}, {3, 2}});  // [1,2,3,2] gives 0.5
    ASSERT_DOUBLE_EQ(estimate_clipping_coefficient(clean.data(), clean.size()), 0.5);

    measure::Recording clipped_first(8000, {clipped, clean});
    measure::Recording clean_first(8000, {clean, clipped});
    measure::Recording mono(8000, {clipped});
    EXPECT_DOUBLE_EQ(get_overloading_value(clipped_first.unpack()), 0.5);
    EXPECT_DOUBLE_EQ(get_overloading_value(clean_first.unpack()), 0.5);
    EXPECT_DOUBLE_EQ(get_overloading_value(mono.unpack()), 1.0);
}

TEST(Overload, EmptyRecordingsGiveZero) {
    measure::Recording no_channels(8000, {});
    measure::Recording no_samples(8000, {Channel{}, Channel{}});
    EXPECT_EQ(get_overloading_value(no_channels.unpack()), 0.0);
    EXPECT_EQ(get_overloading_value(no_samples.unpack()), 0.0);
    EXPECT_EQ(estimate_clipping_coefficient(nullptr, 0), 0.0);
}

TEST(Overload, UnmeasurableSamplesAreAnsweredAsClippedWithoutAHugeHistogram) {
    const double infinity = std::numeric_limits<double>::infinity();
    const Channel cases[] = {
        {0, 1, std::nan(""), 2},
        {std::nan(""), 1, 2},
        {0, infinity},
        {-infinity, 0},
        {-1e300, 1e300},
        {0, 1e15},  // finite, but a histogram of 8 PB
    };
    for (const Channel &samples : cases) {
        SCOPED_TRACE(::testing::PrintToString(samples));
        measure::LogCapture log;
        EXPECT_EQ(estimate_clipping_coefficient(samples.data(), samples.size()), 1.0);
        EXPECT_EQ(log.count("ERROR sound.cpp:"), 1u) << log.text();
    }
    // Beside a measurable channel too: the smallest coefficient would hide the unmeasurable one.
    const Channel clean = repeat({{0, 1}, {1, 2}, {2, 3}, {3, 2}, {4, 1}});
    measure::Recording stereo(8000, {clean, Channel{0, 1, 2, 3, std::nan(""), 4, 2, 2, 1}});
    EXPECT_EQ(get_overloading_value(stereo.unpack()), 1.0);

    // The widest range that decoded 16-bit samples can span is measured as usual: a peak in
    // the middle of 65,536 bins leaves runs of 32,767 bins on either side.
    const Channel full_range = repeat({{-32768, 1}, {0, 5}, {32767, 1}});
    measure::LogCapture log;
    EXPECT_DOUBLE_EQ(estimate_clipping_coefficient(full_range.data(), full_range.size()),
                     2.0 * 32767 / 65536);
    EXPECT_EQ(log.text(), "");
}

}  // namespace
