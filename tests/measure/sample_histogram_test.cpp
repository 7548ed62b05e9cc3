// The check counts each channel's histogram from its 16-bit values as blocks go by; the
// coefficient must be the one estimate_clipping_coefficient gives over the decoded doubles, bit
// for bit, whatever the values and however the channel is cut.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "clipping_histogram.h"
#include "sound.h"

namespace {

std::vector<double> values(std::initializer_list<int> list) { return {list.begin(), list.end()}; }

double streamed(const std::vector<double> &samples, size_t block, unsigned long *counters) {
    SampleHistogram histogram(counters);
    for (size_t at = 0; at < samples.size(); at += block) {
        histogram.add(samples.data() + at, std::min(block, samples.size() - at));
    }
    const double coefficient = histogram.clipping_coefficient();
    histogram.clear();
    return coefficient;
}

TEST(SampleHistogram, SameCoefficientAsTheDecodedDoubles) {
    std::vector<std::pair<std::string, std::vector<double>>> rows = {
        {"one value", values({5})},
        {"lowest only", values({-32768, -32768})},
        {"highest only", values({32767})},
        {"both extremes", values({-32768, 32767, 32767, -32768, 0})},
        {"two neighbours", values({-1, 0, 0, -1, -1})},
    };
    // Speech-like values with a clipped top and bottom, and the whole 16-bit range.
    std::vector<double> clipped;
    uint32_t state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1664525u + 1013904223u;
        const int value = static_cast<int>(state >> 16) - 32768;
        clipped.push_back(std::max(-20000, std::min(20000, value * 2)));
    }
    rows.push_back({"clipped", clipped});
    std::vector<double> full;
    for (int v = -32768; v <= 32767; ++v) full.push_back(v);
    rows.push_back({"every value", full});

    // Zeroed once; every clear() must leave it zeroed for the next row.
    std::vector<unsigned long> counters(SampleHistogram::counter_count, 0);
    for (const auto &[label, samples] : rows) {
        const double expected = estimate_clipping_coefficient(samples.data(), samples.size());
        for (const size_t block : {size_t{1}, size_t{7}, size_t{65536}}) {
            const double got = streamed(samples, block, counters.data());
            EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
                << label << ", blocks of " << block << ": " << got << " against " << expected;
        }
    }
    EXPECT_EQ(streamed({}, 1, counters.data()), 0.0);
    for (const unsigned long count : counters) ASSERT_EQ(count, 0u);
}

}  // namespace
