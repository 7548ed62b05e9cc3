// The measurements on the speech fixture as noise rises and when the input is overdriven: the
// figures are printed, and the trends they must show are checked.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "measure_support.h"
#include "signals.h"

namespace {

using measure::Channel;
using measure::Recording;

// Seconds from the first to the last sample at or above the level: the spoken stretch.
double spoken_seconds(const Channel &samples, double level) {
    size_t first = samples.size();
    size_t last = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) >= level) {
            if (first == samples.size()) first = i;
            last = i;
        }
    }
    return first < samples.size() ? static_cast<double>(last - first + 1) / 8000.0 : 0.0;
}

TEST(Figures, SpeechFixtureUnderRisingNoise) {
    const Channel clean = signals::to_doubles(signals::speech_fixture().samples);
    ASSERT_FALSE(clean.empty());
    const double spoken = spoken_seconds(clean, 300.0);
    std::printf("spoken stretch %.3f s of %.3f s\n", spoken, clean.size() / 8000.0);
    std::printf("%10s %10s %12s %10s\n", "noise rms", "voice s", "snr dB", "overload");

    double previous_snr = INFINITY;
    for (double noise : {0.0, 30.0, 100.0, 300.0, 1000.0, 3000.0}) {
        SCOPED_TRACE(noise);
        const Channel samples = noise == 0.0 ? clean : signals::mix(clean, signals::white_noise(clean.size(), noise));
        Recording recording(8000, {samples});
        const double voice = get_filtered_duration(recording.head(), recording.unpack());
        const double snr = measure::signal_noise(recording.head(), recording.unpack())[0];
        const double overload = get_overloading_value(recording.unpack());
        std::printf("%10.0f %10.2f %12.2f %10.3f\n", noise, voice, snr, overload);

        if (noise <= 300.0) {
            EXPECT_NEAR(voice, spoken, 0.4);
        }
        // Past 1000 the detector hears voice in every frame, leaves no noise frame and the
        // estimate reads 0.0 by rule, not by measurement.
        if (noise > 0.0 && noise <= 1000.0) {
            EXPECT_LT(snr, previous_snr);
            previous_snr = snr;
        }
        (void)overload;  // printed only: added noise fills the histogram's sparse tails unevenly
    }
}

TEST(Figures, HardClippedCopyIsOverloaded) {
    const Channel clean = signals::to_doubles(signals::speech_fixture().samples);
    ASSERT_FALSE(clean.empty());
    std::printf("%10s %10s %12s %10s\n", "gain", "clipped %", "overload", "voice s");
    double unclipped = NAN;
    for (double gain : {1.0, 2.0, 4.0, 8.0}) {
        SCOPED_TRACE(gain);
        const Channel samples = signals::hard_clip(clean, gain);
        size_t at_edge = 0;
        for (double value : samples) at_edge += (value == 32767.0 || value == -32768.0) ? 1 : 0;
        Recording recording(8000, {samples});
        const double overload = get_overloading_value(recording.unpack());
        const double voice = get_filtered_duration(recording.head(), recording.unpack());
        std::printf("%10.0f %10.2f %12.3f %10.2f\n", gain, 100.0 * at_edge / samples.size(), overload, voice);
        // The clean copy's sparse extremes (most values occur once or never) already give long
        // runs; overdriving piles samples onto the two end bins and takes the value to 1.
        if (gain == 1.0) {
            EXPECT_EQ(at_edge, 0u);
            unclipped = overload;
        } else if (gain >= 4.0) {
            EXPECT_GE(overload, 0.99);
            EXPECT_GT(overload, unclipped + 0.2);
        }
    }
}

}  // namespace
