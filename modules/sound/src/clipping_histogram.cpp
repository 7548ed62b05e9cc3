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
    if (count_ != 0) {
        const Extremes extremes = extremes_of();
        std::memset(counts_ + extremes.smallest, 0,
                    static_cast<size_t>(extremes.largest - extremes.smallest + 1) *
                        sizeof(unsigned long));
    }
    count_ = 0;
}

void SampleHistogram::add(const double *samples, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) ++counts_[static_cast<int32_t>(samples[i]) + 32768];
    count_ += count;
}

SampleHistogram::Extremes SampleHistogram::extremes_of() const {
    // The smallest and largest values are the first and last bins counted in.
    uint64_t smallest = 0;
    while (counts_[smallest] == 0) ++smallest;
    uint64_t largest = counter_count - 1;
    while (counts_[largest] == 0) --largest;
    return {smallest, largest};
}

double SampleHistogram::clipping_coefficient() const {
    if (count_ == 0) return 0.0;
    const Extremes extremes = extremes_of();
    return histogram_clipping_coefficient(counts_ + extremes.smallest,
                                          extremes.largest - extremes.smallest + 1);
}

double smallest_coefficient(const double *coefficients, uint64_t count) {
    double smallest = coefficients[0];
    for (uint64_t c = 1; c < count; ++c) {
        if (coefficients[c] < smallest) smallest = coefficients[c];
    }
    return smallest;
}
