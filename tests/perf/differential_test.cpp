// v_check against the pipeline composed from the standalone measurements: the sample
// recordings, byte-built oddities and generated recordings at every common rate must leave the
// same result, state, slots (doubles bit for bit) and log lines, in the same order.
#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "differential.h"
#include "support/wav_bytes.h"
#include "synthetic_speech.h"

namespace {

using differential::Bytes;
using differential::ScopedSession;
using synthetic::Kind;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

Bytes read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string &path) {
    const Bytes bytes = read_bytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> sample_recordings() {
    const std::string dir = std::string(SONARA_SOURCE_DIR) + "/samples";
    std::vector<std::string> paths;
    if (DIR *listing = opendir(dir.c_str())) {
        while (const dirent *entry = readdir(listing)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".wav") paths.push_back(dir + "/" + name);
        }
        closedir(listing);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

const std::vector<int16_t> &speech() {
    static const std::vector<int16_t> samples =
        synthetic::load_mono_samples(std::string(SONARA_SOURCE_DIR) + "/tests/fixtures/speech_8k.wav");
    return samples;
}

// Which of the three switches are on; the first enabled detector-driven measurement is the one
// that makes the shared pass, so each gets to go first.
struct Switches {
    const char *label;
    bool telephony;
    bool overload;
    bool signal_noise;
};

constexpr Switches kSwitches[] = {
    {"all", true, true, true},
    {"no_telephony", false, true, true},
    {"telephony_only", true, false, false},
};

void apply(ScopedSession &session, const Switches &switches, const char *name) {
    v_enable_property(&session.get(), "telephony_border", switches.telephony);
    v_enable_property(&session.get(), "overload_border", switches.overload);
    v_enable_property(&session.get(), "signal_noise", switches.signal_noise);
    v_dbg_set_property(&session.get(), "processing_sound_name", name);
}

TEST(Differential, SampleRecordingsUnderEveryConfiguration) {
    const std::vector<std::string> paths = sample_recordings();
    ASSERT_GE(paths.size(), 5u) << "no sample recordings under " << SONARA_SOURCE_DIR;
    const std::string configurations[] = {
        read_text(std::string(SONARA_SOURCE_DIR) + "/config/cv_configuration.json"),
        differential::permissive_configuration()};
    for (const std::string &configuration : configurations) {
        ScopedSession session(configuration);
        ASSERT_TRUE(session.created());
        for (const Switches &switches : kSwitches) {
            apply(session, switches, "sample.wav");
            for (const std::string &path : paths) {
                differential::expect_same(session.get(), read_bytes(path),
                                          path + " with " + switches.label);
            }
        }
    }
}

TEST(Differential, PermissiveRunReachesEveryMeasurement) {
    // Guards the fixture: with the permissive limits the shared pass really is exercised.
    ScopedSession session(differential::permissive_configuration());
    ASSERT_TRUE(session.created());
    const differential::Outcome outcome = differential::expect_same(
        session.get(), synthetic::recording(Kind::voiced, 16000, 2, 16000 * 3, speech()), "voiced");
    EXPECT_EQ(outcome.state, STATE_OK) << outcome.log;
    for (const differential::Slot &slot : outcome.slots) {
        EXPECT_EQ(slot.state, SESSION_VALUE_PASSED) << slot.name;
    }
}

struct Generated {
    uint32_t rate;
    uint16_t channels;
    Kind kind;
    size_t frames;
};

std::string label(const Generated &g) {
    return std::to_string(g.rate) + "Hz " + std::to_string(g.channels) + "ch " +
           synthetic::kind_name(g.kind) + " " + std::to_string(g.frames) + " frames";
}

TEST(Differential, GeneratedRecordingsAtEveryRate) {
    const uint32_t rates[] = {8000, 11025, 16000, 22050, 44100, 48000, 96000, 192000};
    const Kind kinds[] = {Kind::silence, Kind::noise, Kind::voiced, Kind::clipped};
    ScopedSession session(differential::permissive_configuration());
    ASSERT_TRUE(session.created());
    apply(session, kSwitches[0], "generated.wav");
    for (const uint32_t rate : rates) {
        // Under one 10 ms frame, about two frames at 8000 Hz, and a few seconds (one above
        // 48 kHz under the sanitizers, which are many times slower).
        const size_t seconds = kSanitized && rate > 48000 ? rate : rate * 5 / 2;
        const size_t lengths[] = {rate / 200, rate / 40, seconds};
        for (const uint16_t channels : {uint16_t{1}, uint16_t{2}, uint16_t{3}}) {
            for (const Kind kind : kinds) {
                for (const size_t frames : lengths) {
                    const Generated g{rate, channels, kind, frames};
                    differential::expect_same(
                        session.get(), synthetic::recording(kind, rate, channels, frames, speech()),
                        label(g));
                }
            }
        }
    }
}

// The telephony border reads the detector pass of signal-to-noise (at 8000 Hz the resampling is
// the identity, elsewhere both read the resampled channels), so on a mono recording the two
// slots hold the same value, bit for bit, at every rate and for every kind of signal.
TEST(Differential, MonoTelephonyBorderIsItsSignalNoise) {
    ScopedSession session(differential::permissive_configuration());
    ASSERT_TRUE(session.created());
    apply(session, kSwitches[0], "mono.wav");
    size_t measured = 0;
    for (const uint32_t rate : {8000u, 11025u, 16000u, 44100u, 48000u}) {
        for (const Kind kind : {Kind::silence, Kind::noise, Kind::voiced, Kind::clipped}) {
            const Generated g{rate, 1, kind, size_t{rate} * 2};
            const differential::Outcome outcome = differential::expect_same(
                session.get(), synthetic::recording(kind, rate, 1, g.frames, speech()), label(g));
            uint64_t telephony = 0;
            uint64_t signal_noise = 1;
            for (const differential::Slot &slot : outcome.slots) {
                if (slot.name == "telephony_border") telephony = slot.value_bits;
                if (slot.name == "signal_noise") signal_noise = slot.value_bits;
            }
            EXPECT_EQ(telephony, signal_noise) << label(g);
            double value;
            std::memcpy(&value, &telephony, sizeof value);
            if (value != 0.0) ++measured;
        }
    }
    EXPECT_GE(measured, 10u) << "too few recordings had noise frames to measure";
}

// Minutes-long recordings cross many resampler blocks; the last two are the benchmark's 8000 Hz
// recordings. The sanitizer build, several times slower, takes the first two.
TEST(Differential, MinutesLongRecordings) {
    const Generated rows[] = {
        {44100, 1, Kind::voiced, 44100 * 190},
        {16000, 2, Kind::voiced, 16000 * 125},
        {8000, 1, Kind::voiced, 8000 * 200},
        {48000, 2, Kind::noise, 48000 * 61},
        {8000, 1, Kind::voiced, 8000 * 60},
        {8000, 1, Kind::voiced, 8000 * 600},
    };
    ScopedSession session(differential::permissive_configuration());
    ASSERT_TRUE(session.created());
    apply(session, kSwitches[0], "long.wav");
    for (const Generated &g : rows) {
        if (kSanitized && &g - rows >= 2) break;
        differential::expect_same(session.get(),
                                  synthetic::recording(g.kind, g.rate, g.channels, g.frames, speech()),
                                  label(g));
    }
}

// One hour of stereo: thousands of resampler blocks, and at 8000 Hz both detector passes (the
// resampled one of the telephony border, the decoded one of the others) over 28.8 million
// samples a channel. The composed check holds about 1.5 GB and takes minutes under the
// sanitizers, so that build leaves it out.
TEST(Differential, HourLongRecording) {
    if (kSanitized) GTEST_SKIP() << "plain build only";
    ScopedSession session(differential::permissive_configuration());
    ASSERT_TRUE(session.created());
    apply(session, kSwitches[0], "hour.wav");
    const Generated g{8000, 2, Kind::voiced, size_t{8000} * 3600};
    differential::expect_same(session.get(),
                              synthetic::recording(g.kind, g.rate, g.channels, g.frames, speech()),
                              label(g));
}

// Headers that bend the usual layout: no channels, rate 0, deeper or shallower samples, more
// channels, one byte of data.
struct Odd {
    const char *label;
    uint16_t channels;
    uint32_t rate;
    uint16_t bits;
    uint16_t block_align;
    size_t data_bytes;
};

Bytes odd_wav(const Odd &odd) {
    Bytes out;
    // Byte rate 16000: anything but 0 lets the header through.
    test_support::put_canonical_wav_header(
        out, {odd.channels, odd.rate, 16000, odd.block_align, odd.bits,
              static_cast<uint32_t>(odd.data_bytes)});
    synthetic::Noise noise(99);
    for (size_t i = 0; i < odd.data_bytes; ++i) {
        // Loud noise bytes in the first half, quiet in the second, so both classes show up.
        const double level = i < odd.data_bytes / 2 ? 127.0 : 2.0;
        out.push_back(static_cast<unsigned char>(static_cast<int>(level * noise.next()) & 0xFF));
    }
    return out;
}

TEST(Differential, ByteBuiltOddities) {
    const Odd rows[] = {
        {"no_channels", 0, 16000, 16, 2, 32000},
        {"rate_zero", 1, 0, 16, 2, 32000},
        {"rate_zero_stereo", 2, 0, 16, 4, 32000},
        {"depth_24_stereo", 2, 22050, 24, 6, 132300},
        {"depth_8_mono", 1, 8000, 8, 1, 16000},
        {"three_channels", 3, 16000, 16, 6, 96000},
        {"one_byte", 1, 44100, 16, 2, 1},
        {"exactly_80_at_8000", 1, 8000, 16, 2, 160},
        {"exactly_81_at_8000", 1, 8000, 16, 2, 162},
        {"rate_above_detector", 1, 96000, 16, 2, 192000},
        {"odd_rate", 1, 7999, 16, 2, 32000},
    };
    ScopedSession session(differential::permissive_configuration());
    ASSERT_TRUE(session.created());
    for (const Switches &switches : kSwitches) {
        apply(session, switches, "odd.wav");
        for (const Odd &odd : rows) {
            differential::expect_same(session.get(), odd_wav(odd),
                                      std::string(odd.label) + " with " + switches.label);
        }
    }
}

TEST(Differential, UnnamedSoundAndFailingSteps) {
    // Default limits: telephony, overload, signal-to-noise and voice duration each fail on some
    // recording, and the sound has no name, so resampling lines would read "unknown".
    ScopedSession session(R"({ "version": "strict",
        "length": { "min": 1, "max": 2000000 }, "duration": { "min": 0, "max": 1000 },
        "depth": { "min": 16, "max": 16 }, "channels": { "min": 1, "max": 2 },
        "sample_rate": { "min": 8000, "max": 48000 }, "telephony_border": { "value": 20 },
        "overload_border": { "value": 0.5 }, "signal_noise": { "value": 30 },
        "voice_duration": { "value": 2.0 } })");
    ASSERT_TRUE(session.created());
    for (const uint32_t rate : {8000u, 22050u}) {
        for (const Kind kind : {Kind::silence, Kind::noise, Kind::voiced, Kind::clipped}) {
            for (const Switches &switches : kSwitches) {
                v_enable_property(&session.get(), "telephony_border", switches.telephony);
                v_enable_property(&session.get(), "overload_border", switches.overload);
                v_enable_property(&session.get(), "signal_noise", switches.signal_noise);
                const Generated g{rate, 2, kind, rate * 3};
                differential::expect_same(
                    session.get(), synthetic::recording(kind, rate, 2, rate * 3, speech()),
                    label(g) + " with " + switches.label);
            }
        }
    }
}

}  // namespace
