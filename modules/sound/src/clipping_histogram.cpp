#include "clipping_histogram.h"

#include <algorithm>
#include <cstring>

double histogram_clipping_coefficient(const unsigned long *histogram, uint64_t bins) {
    // Walk in from both ends at once; a run counts the bins passed since that side's peak
    // last rose, and the longest run tells how far the ends tower over the inside.
    unsigned long left_peak = histogram[0];
    unsigned long right_peak = histogram[bins - 1];
    uint64_t left_run = 0;
    uint64_t right_run = 0;
    uint64_t longest = 0;
    if (bins > 1) {
        uint64_t i = 0;
        uint64_t j = bins - 1;
        do {
            ++i;
            --j;
            ++left_run;
            if (histogram[i] > left_peak) {
                left_peak = histogram[i];
                left_run = 0;
            }
            if (histogram[j] > right_peak) {
                right_peak = histogram[j];
                right_run = 0;
                longest = std::max(longest, left_run);
            } else {
                ++right_run;
                longest = std::max({longest, left_run, right_run});
            }
        } while (i < j);
    }
    return 2.0 * static_cast<double>(longest) / static_cast<double>(bins);
}

void SampleHistogram::clear() {
    // Only the bins between the extremes were ever counted in.
    if (!empty_) {
        std::memset(counts_ + (smallest_ + 32768), 0,
                    static_cast<size_t>(largest_ - smallest_ + 1) * sizeof(unsigned long));
    }
    smallest_ = 0;
    largest_ = 0;
    empty_ = true;
}

void SampleHistogram::add(const double *samples, uint64_t count) {
    if (count == 0) return;
    int32_t smallest = empty_ ? INT32_MAX : smallest_;
    int32_t largest = empty_ ? INT32_MIN : largest_;
    for (uint64_t i = 0; i < count; ++i) {
        const int32_t value = static_cast<int32_t>(samples[i]);
        ++counts_[value + 32768];
        smallest = std::min(smallest, value);
        largest = std::max(largest, value);
    }
    smallest_ = smallest;
    largest_ = largest;
    empty_ = false;
}

double SampleHistogram::clipping_coefficient() const {
    if (empty_) return 0.0;
    const uint64_t bins = static_cast<uint64_t>(largest_ - smallest_) + 1;
    return histogram_clipping_coefficient(counts_ + (smallest_ + 32768), bins);
}

double smallest_coefficient(const double *coefficients, uint64_t count) {
    double smallest = coefficients[0];
    for (uint64_t c = 1; c < count; ++c) {
        if (coefficients[c] < smallest) smallest = coefficients[c];
    }
    return smallest;
}
