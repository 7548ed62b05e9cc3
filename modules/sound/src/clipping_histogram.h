// The overload estimate's histogram scan, and the histogram of 16-bit samples the check counts
// straight from the payload.
#pragma once

#include <cstdint>

// The clipping coefficient of a histogram of bins bins (at least one), 0 to 1: twice the longest
// run of bins walked in from either end since that end's peak last rose, over the bin count. Near
// 1 when samples pile up at the ends, and for the sparse tails of a short channel too.
double histogram_clipping_coefficient(const unsigned long *histogram, uint64_t bins);

// Counts of every 16-bit value of one channel in the caller's 65,536 counters. The bins from
// the smallest to the largest value seen are the histogram create_hist makes of the same
// samples decoded to doubles, so the coefficient is the same bit for bit.
class SampleHistogram {
public:
    static constexpr uint64_t counter_count = 65536;

    // counters: all zero to begin with.
    explicit SampleHistogram(unsigned long *counters) : counts_(counters) {}

    // Empty again, with every counter back at zero.
    void clear();
    // Samples decoded from 16-bit values (whole numbers from -32768 to 32767).
    void add(const double *samples, uint64_t count);
    // 0 for no samples.
    double clipping_coefficient() const;

private:
    struct Extremes {
        uint64_t smallest;  // counter indices, value + 32768
        uint64_t largest;
    };
    // Only with something counted.
    Extremes extremes_of() const;

    unsigned long *counts_;
    uint64_t count_ = 0;
};

// The smallest of count (at least one) coefficients, the first of equals.
double smallest_coefficient(const double *coefficients, uint64_t count);
