// The heap one v_check takes does not grow with the recording: every allocation of the process
// is counted while the check runs (the content buffer is the caller's and made before), and the
// highest count stays under 8 MiB for mono and stereo at any rate, up to one hour of 48 kHz
// stereo, and for three channels too (a few dozen bytes more per channel). v_check_reader over
// the same bytes adds its read windows and stays under the same bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "differential.h"
#include "support/counting_allocator.h"
#include "synthetic_speech.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr int64_t kBound = int64_t{8} << 20;

struct Shape {
    uint32_t rate;
    uint16_t channels;
    uint32_t seconds;
};

std::string label(const Shape &shape) {
    return std::to_string(shape.seconds) + " s, " + std::to_string(shape.rate) + " Hz, " +
           std::to_string(shape.channels) + " channels";
}

TEST(PeakHeap, OneCheckStaysUnderTheBound) {
    ASSERT_TRUE(counting_allocator::counting());
    // The hour and the ten minutes are for the plain build; the sanitizer build, many times
    // slower, takes two minutes of each shape, still hundreds of resampler blocks past the
    // largest buffer.
    std::vector<Shape> shapes = {
        {44100, 2, 600},  {1000, 2, 600},  {8000, 2, 600},
        {192000, 2, 120}, {16000, 3, 300}, {48000, 2, 3600},
    };
    if (kSanitized) {
        for (Shape &shape : shapes) shape.seconds = std::min(shape.seconds, 120u);
    }

    const std::vector<int16_t> speech = synthetic::load_mono_samples(
        std::string(SONARA_SOURCE_DIR) + "/tests/fixtures/speech_8k.wav");
    ASSERT_FALSE(speech.empty());
    differential::ScopedSession session(differential::permissive_configuration());
    ASSERT_TRUE(session.created());
    for (const Shape &shape : shapes) {
        // Noise beside speech: the speech generator is slow over an hour, and the detector
        // classes loud noise as voice, so every branch still runs.
        const synthetic::Kind kind = shape.seconds > 600 ? synthetic::Kind::noise : synthetic::Kind::voiced;
        const synthetic::Bytes wav = synthetic::recording(
            kind, shape.rate, shape.channels, uint64_t{shape.rate} * shape.seconds, speech);

        counting_allocator::reset_peak();
        const int64_t before = counting_allocator::bytes_in_use();
        const bool passed = v_check(&session.get(), wav.data(), wav.size());
        const int64_t peak = counting_allocator::peak_bytes() - before;

        EXPECT_TRUE(passed) << label(shape) << ": state " << session.get().state;
        EXPECT_LE(peak, kBound) << label(shape) << ": " << peak << " bytes";
        // The working buffers themselves were counted: the figure is not vacuous.
        EXPECT_GT(peak, int64_t{512} << 10) << label(shape);
        std::printf("%s: peak heap %.2f MiB\n", label(shape).c_str(),
                    static_cast<double>(peak) / (1 << 20));

        test_support::MemoryReader reader(wav);
        counting_allocator::reset_peak();
        const int64_t reader_before = counting_allocator::bytes_in_use();
        const bool reader_passed = v_check_reader(&session.get(), reader.get(), false);
        const int64_t reader_peak = counting_allocator::peak_bytes() - reader_before;
        EXPECT_TRUE(reader_passed) << label(shape) << ": state " << session.get().state;
        EXPECT_EQ(reader.get()->error, 0) << label(shape);
        EXPECT_LE(reader_peak, kBound) << label(shape) << ": " << reader_peak << " bytes (reader)";
        // The payload window was counted too.
        EXPECT_GT(reader_peak, peak + (int64_t{256} << 10) - (int64_t{64} << 10)) << label(shape);
        std::printf("%s: peak heap %.2f MiB (reader)\n", label(shape).c_str(),
                    static_cast<double>(reader_peak) / (1 << 20));
    }
}

}  // namespace
