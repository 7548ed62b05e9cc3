// v_check against the composed pipeline over a detector whose answers the test decides:
// unclassified frames in either channel, a refused rate and a detector that can't be created
// must leave the same values and the same log lines as the standalone measurements.
#include <set>
#include <string>

#include "differential.h"
#include "fvad.h"
#include "synthetic_speech.h"

namespace {

// Decisions depend only on what one instance has been handed so far, as a real detector's do:
// a frame is voice when a sample reaches the threshold, and the frames whose index within
// their instance is listed go unclassified.
struct Script {
    std::set<size_t> unclassified;
    bool refuse_rate = false;
    bool fail_creation = false;
} script;

}  // namespace

struct Fvad {
    size_t frames_seen;
};

extern "C" Fvad *fvad_new(void) { return script.fail_creation ? nullptr : new Fvad{0}; }
extern "C" void fvad_free(Fvad *inst) { delete inst; }
extern "C" int fvad_set_mode(Fvad *, int) { return 0; }
extern "C" int fvad_set_sample_rate(Fvad *, int) { return script.refuse_rate ? -1 : 0; }
extern "C" int fvad_process(Fvad *inst, const int16_t *frame, size_t length) {
    const size_t index = inst->frames_seen++;
    if (script.unclassified.count(index) != 0) return -1;
    for (size_t i = 0; i < length; ++i) {
        if (frame[i] >= 2000 || frame[i] <= -2000) return 1;
    }
    return 0;
}

namespace {

using differential::ScopedSession;

struct Case {
    const char *label;
    std::set<size_t> unclassified;
    bool refuse_rate;
    bool fail_creation;
};

class ScriptedDifferential : public testing::TestWithParam<Case> {
protected:
    void TearDown() override { script = Script{}; }
};

void PrintTo(const Case &row, std::ostream *out) { *out << row.label; }

TEST_P(ScriptedDifferential, SameValuesAndLogLines) {
    const Case &row = GetParam();
    script.unclassified = row.unclassified;
    script.refuse_rate = row.refuse_rate;
    script.fail_creation = row.fail_creation;
    const std::vector<int16_t> speech = synthetic::load_mono_samples(
        std::string(SONARA_SOURCE_DIR) + "/tests/fixtures/speech_8k.wav");
    ASSERT_FALSE(speech.empty());

    ScopedSession session(differential::permissive_configuration());
    ASSERT_TRUE(session.created());
    v_dbg_set_property(&session.get(), "processing_sound_name", "scripted.wav");
    for (const bool telephony : {true, false}) {
        v_enable_property(&session.get(), "telephony_border", telephony);
        for (const uint32_t rate : {8000u, 16000u, 44100u}) {
            for (const uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
                // Three seconds: about 299 frames a channel, so index 310 lands in channel 1.
                const differential::Outcome outcome = differential::expect_same(
                    session.get(),
                    synthetic::recording(synthetic::Kind::voiced, rate, channels, rate * 3, speech),
                    std::string(row.label) + " at " + std::to_string(rate) + " Hz, " +
                        std::to_string(channels) + " channels, telephony " +
                        (telephony ? "on" : "off"));
                // Channel 1 starts at index 299; a mono recording never gets that far.
                const bool reached = !row.unclassified.empty() &&
                                     (channels == 2 || *row.unclassified.begin() < 299);
                if (reached) {
                    EXPECT_NE(outcome.log.find("Ошибка фрейма"), std::string::npos);
                }
                if (row.refuse_rate || row.fail_creation) {
                    EXPECT_NE(outcome.log.find("[library] Bad sample rate"), std::string::npos);
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScriptedDifferential,
    testing::Values(Case{"unclassified_in_both_channels", {1, 5, 310}, false, false},
                    Case{"unclassified_in_channel_1_only", {300, 420}, false, false},
                    Case{"rate_refused", {}, true, false},
                    Case{"no_detector", {}, false, true}),
    [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.label); });

}  // namespace
