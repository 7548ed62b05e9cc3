// The voice-activity layer on its own: rates, modes, frame lengths and decisions.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fvad.h"
#include "signals.h"

namespace {

using Detector = std::unique_ptr<Fvad, decltype(&fvad_free)>;

Detector make_detector() {
    return Detector(fvad_new(), &fvad_free);
}

// One decision per consecutive 10 ms frame at 8000 Hz, as a string of '0'/'1' (or '-' for -1).
std::string decisions(Fvad *detector, const std::vector<int16_t> &samples) {
    std::string result;
    for (size_t p = 0; p + 80 <= samples.size(); p += 80) {
        const int decision = fvad_process(detector, &samples[p], 80);
        result += decision < 0 ? '-' : static_cast<char>('0' + decision);
    }
    return result;
}

std::vector<int16_t> noisy_speech() {
    const signals::Recording speech = signals::speech_fixture();
    const std::vector<double> mixed = signals::mix(
        signals::to_doubles(speech.samples), signals::white_noise(speech.samples.size(), 1000.0));
    return std::vector<int16_t>(mixed.begin(), mixed.end());
}

TEST(FvadLayer, AcceptsExactlyTheFourRatesAndTheirThreeFrameLengths) {
    for (int rate : {8000, 16000, 32000, 48000}) {
        SCOPED_TRACE(rate);
        Detector detector = make_detector();
        ASSERT_NE(detector, nullptr);
        ASSERT_EQ(fvad_set_sample_rate(detector.get(), rate), 0);
        const std::vector<int16_t> silence(static_cast<size_t>(rate) * 30 / 1000 + 1, 0);
        for (size_t ms : {10u, 20u, 30u}) {
            const size_t length = static_cast<size_t>(rate) / 1000 * ms;
            EXPECT_EQ(fvad_process(detector.get(), silence.data(), length), 0) << length;
            EXPECT_EQ(fvad_process(detector.get(), silence.data(), length - 1), -1) << length - 1;
            EXPECT_EQ(fvad_process(detector.get(), silence.data(), length + 1), -1) << length + 1;
        }
        EXPECT_EQ(fvad_process(detector.get(), silence.data(), 0), -1);
    }
}

TEST(FvadLayer, RefusedRateKeepsThePreviousOne) {
    Detector detector = make_detector();
    ASSERT_NE(detector, nullptr);
    const std::vector<int16_t> silence(480, 0);
    // The default rate is 8000: 80 samples are 10 ms, 320 samples fit no frame length.
    EXPECT_EQ(fvad_process(detector.get(), silence.data(), 80), 0);
    EXPECT_EQ(fvad_process(detector.get(), silence.data(), 320), -1);

    ASSERT_EQ(fvad_set_sample_rate(detector.get(), 16000), 0);
    for (int refused : {0, -8000, 8001, 11025, 22050, 44100, 96000}) {
        SCOPED_TRACE(refused);
        EXPECT_EQ(fvad_set_sample_rate(detector.get(), refused), -1);
        EXPECT_EQ(fvad_process(detector.get(), silence.data(), 320), 0);  // 20 ms at 16000
        EXPECT_EQ(fvad_process(detector.get(), silence.data(), 80), -1);
    }
}

TEST(FvadLayer, ModesZeroToThreeAreAcceptedAndARefusedModeKeepsThePreviousOne) {
    const std::vector<int16_t> signal = noisy_speech();
    ASSERT_FALSE(signal.empty());

    std::string by_mode[4];
    for (int mode = 0; mode <= 3; ++mode) {
        Detector detector = make_detector();
        ASSERT_EQ(fvad_set_mode(detector.get(), mode), 0);
        by_mode[mode] = decisions(detector.get(), signal);
        EXPECT_EQ(by_mode[mode].find('-'), std::string::npos);
    }
    // The modes must actually reach the detector, or the checks below prove nothing.
    ASSERT_NE(by_mode[0], by_mode[3]);

    Detector fresh = make_detector();
    EXPECT_EQ(decisions(fresh.get(), signal), by_mode[0]) << "default mode is 0";

    for (int refused : {-1, 4, 100}) {
        SCOPED_TRACE(refused);
        Detector detector = make_detector();
        ASSERT_EQ(fvad_set_mode(detector.get(), 3), 0);
        EXPECT_EQ(fvad_set_mode(detector.get(), refused), -1);
        EXPECT_EQ(decisions(detector.get(), signal), by_mode[3]);
    }
}

TEST(FvadLayer, NullInstanceOrFrameIsAnError) {
    Detector detector = make_detector();
    const std::vector<int16_t> silence(80, 0);
    EXPECT_EQ(fvad_process(detector.get(), nullptr, 80), -1);
    EXPECT_EQ(fvad_process(nullptr, silence.data(), 80), -1);
    EXPECT_EQ(fvad_set_mode(nullptr, 3), -1);
    EXPECT_EQ(fvad_set_sample_rate(nullptr, 8000), -1);
    fvad_free(nullptr);
}

TEST(FvadLayer, SilenceIsNoVoiceAndSpeechIsVoice) {
    const signals::Recording speech = signals::speech_fixture();
    ASSERT_EQ(speech.sample_rate, 8000u);
    ASSERT_GT(speech.samples.size(), 16000u);

    Detector detector = make_detector();
    ASSERT_EQ(fvad_set_mode(detector.get(), 3), 0);
    const std::vector<int16_t> silence(8000, 0);
    EXPECT_EQ(decisions(detector.get(), silence), std::string(100, '0'));

    // The fixture is 0.25 s of silence, about 2.27 s of speech, 0.25 s of silence.
    const std::string found = decisions(detector.get(), speech.samples);
    EXPECT_EQ(found.substr(0, 25), std::string(25, '0'));
    EXPECT_EQ(found.substr(found.size() - 25), std::string(25, '0'));
    const size_t voiced = static_cast<size_t>(std::count(found.begin(), found.end(), '1'));
    EXPECT_GT(voiced, 227u * 7 / 10);
    EXPECT_LE(voiced, 227u);
}

}  // namespace
