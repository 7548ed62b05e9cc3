// v_check end to end through the exported interface: every outcome with the slots it evaluates,
// resets between checks, switches, the sound's name in the resampler's message, and sessions
// checking on two threads at once.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <thread>

#include "pipeline_outcomes.h"

namespace pipeline_test {
namespace {

TEST(CheckPipeline, EveryOutcomeEvaluatesExactlyItsSlots) {
    for (const Outcome &row : outcomes()) {
        SCOPED_TRACE(row.what);
        CheckedSession live(configuration(row.overrides));
        ASSERT_TRUE(live.created());
        Session &session = live.record();
        if (!row.before.empty()) live.check(row.before);

        LogCapture log;
        bool result = true;
        switch (row.call) {
        case Call::check:
            result = live.check(row.content);
            break;
        case Call::null_content:
            result = v_check(&session, nullptr, 100);
            break;
        case Call::zero_size:
            result = v_check(&session, row.content.data(), 0);
            break;
        case Call::blank_record: {
            Session blank{};
            EXPECT_FALSE(v_check(&blank, row.content.data(), row.content.size()));
            EXPECT_EQ(blank.state, row.state);
            EXPECT_EQ(blank.payment, nullptr);
            continue;
        }
        case Call::destroyed_record: {
            Session gone{};
            ASSERT_TRUE(v_create_session_from_memory(&gone, configuration().c_str()));
            ASSERT_TRUE(v_destroy_session(&gone));
            EXPECT_FALSE(v_check(&gone, row.content.data(), row.content.size()));
            EXPECT_EQ(gone.state, row.state);
            EXPECT_FALSE(v_result_session(&gone, nullptr));
            continue;
        }
        }

        EXPECT_EQ(result, row.state == STATE_OK);
        EXPECT_EQ(session.state, row.state);
        const bool content_refused = row.state == STATE_CONTENT_FAILED;
        EXPECT_EQ(log.contains("WARN libsound.cpp:") && log.contains("[library] Content failed"),
                  content_refused)
            << log.text();

        const std::map<std::string, int32_t> expected = parse_slots(row.slots);
        for (const std::string &name : slot_names()) {
            const SessionValue *value = slot(session, name);
            ASSERT_NE(value, nullptr) << name;
            const auto wanted = expected.find(name);
            EXPECT_EQ(value->state, wanted == expected.end() ? 0 : wanted->second)
                << name << " in " << slot_states(session);
            if (value->state == 0) {
                EXPECT_EQ(value->value, 0.0) << name;
            }
        }
        // The length is recorded in KiB with its fraction, before the header is looked at.
        const Bytes &judged = content_refused ? row.before : row.content;
        const SessionValue *length = slot(session, "length");
        if (length->state != 0) {
            EXPECT_EQ(length->value, static_cast<double>(judged.size()) / 1024.0);
        }
    }
}

// The state of null records is never written.
TEST(CheckPipeline, NullRecordIsRefused) {
    const Bytes content = tone(Format{}, 2.5);
    EXPECT_FALSE(v_check(nullptr, content.data(), content.size()));
    EXPECT_FALSE(v_check(nullptr, nullptr, 0));
}

TEST(CheckPipeline, LengthIsKibibytesWithFraction) {
    CheckedSession live(configuration({{"length", R"({ "min": 0, "max": 20480 })"}}));
    ASSERT_TRUE(live.created());
    const std::pair<size_t, double> cases[] = {{44, 0.04296875}, {1024, 1.0}, {1536, 1.5}};
    for (const auto &[size, kib] : cases) {
        EXPECT_FALSE(live.check(Bytes(size, 'x')));
        EXPECT_EQ(live.record().state, STATE_HEAD_FAILED);
        EXPECT_EQ(slot(live.record(), "length")->value, kib) << size << " bytes";
    }
}

TEST(CheckPipeline, SecondCheckStartsFromCleanBlock) {
    CheckedSession live(configuration(blip_configuration({{"signal_noise", R"({ "value": 15 })"}})));
    ASSERT_TRUE(live.created());
    Session &session = live.record();

    EXPECT_FALSE(live.check(kSteadyBlip));
    ASSERT_EQ(session.state, STATE_SIGNAL_NOISE_FAILED) << slot_states(session);
    ASSERT_NE(slot(session, "signal_noise")->text, nullptr);

    EXPECT_FALSE(live.check(Bytes(2048, 'x')));
    EXPECT_EQ(session.state, STATE_HEAD_FAILED);
    for (const std::string &name : slot_names()) {
        const SessionValue *value = slot(session, name);
        EXPECT_EQ(value->state, name == "length" ? 1 : 0) << name;
        if (name == "length") continue;
        EXPECT_EQ(value->value, 0.0) << name;
        EXPECT_EQ(value->text, nullptr) << name;
    }

    // And a passing check after failing ones answers true with state 0.
    EXPECT_TRUE(v_enable_property(&session, "signal_noise", false));
    EXPECT_TRUE(live.check(kSteadyBlip));
    EXPECT_EQ(session.state, STATE_OK);
}

TEST(CheckPipeline, SwitchesTakeEffectAtTheNextCheck) {
    CheckedSession live(configuration(blip_configuration()));
    ASSERT_TRUE(live.created());
    Session &session = live.record();
    ASSERT_TRUE(live.check(kSteadyBlip));
    ASSERT_EQ(slot(session, "overload")->state, 1);

    ASSERT_TRUE(v_enable_property(&session, "overload_border", false));
    ASSERT_TRUE(v_enable_property(&session, "signal_noise", false));
    // The slots keep the copies taken at the last check until the next one.
    EXPECT_TRUE(slot(session, "overload")->enable);
    EXPECT_TRUE(slot(session, "signal_noise")->enable);
    EXPECT_EQ(slot(session, "voice_duration")->state, 1);

    // A clipped recording now passes: overload is not measured, nor are the voice figures.
    EXPECT_TRUE(live.check(kClippedBlip)) << slot_states(session);
    EXPECT_FALSE(slot(session, "overload")->enable);
    EXPECT_FALSE(slot(session, "signal_noise")->enable);
    EXPECT_EQ(slot(session, "overload")->state, 0);
    EXPECT_EQ(slot(session, "signal_noise")->state, 0);
    EXPECT_EQ(slot(session, "voice_duration")->state, 0);

    // Switching voice_duration on does not bring the measurement back without signal_noise.
    ASSERT_TRUE(v_enable_property(&session, "voice_duration", true));
    EXPECT_TRUE(live.check(kClippedBlip));
    EXPECT_EQ(slot(session, "voice_duration")->state, 0);

    ASSERT_TRUE(v_enable_property(&session, "overload_border", true));
    EXPECT_FALSE(live.check(kClippedBlip));
    EXPECT_EQ(session.state, STATE_OVERLOAD_BORDER_FAILED);
    EXPECT_TRUE(slot(session, "overload")->enable);
    EXPECT_EQ(slot(session, "overload")->state, 2);

    // A header-level check switched off passes whatever the value, and still records it.
    ASSERT_TRUE(v_enable_property(&session, "overload_border", false));
    ASSERT_TRUE(v_enable_property(&session, "depth", false));
    Format eight_bit;
    eight_bit.bits_per_sample = 8;
    EXPECT_TRUE(live.check(wav(eight_bit, Bytes(40, 0x80))));
    EXPECT_EQ(slot(session, "depth")->value, 8.0);
    EXPECT_EQ(slot(session, "depth")->state, 1);
    EXPECT_FALSE(slot(session, "depth")->enable);
}

// A header without a sample rate passes the parser; the resampler then refuses it, and its
// message names the sound through the copy of the header that the telephony border makes.
TEST(CheckPipeline, SoundNameReachesTheResamplerMessage) {
    Format no_rate;
    no_rate.sample_rate = 0;
    no_rate.byte_rate = 16000;
    const Bytes content = wav(no_rate, Bytes(1600, 0));
    const std::string text = configuration(blip_configuration({{"sample_rate", R"({ "min": 0, "max": 48000 })"}}));
    const char named[] = "[library] ReSample for \"call-0042.wav\" error";
    const char renamed[] = "[library] ReSample for \"call-0043.wav\" error";
    const char unnamed[] = "[library] ReSample for \"unknown\" error";

    {
        CheckedSession live(text);
        ASSERT_TRUE(live.created());
        LogCapture log;
        live.check(content);
        EXPECT_FALSE(log.contains("ReSample for \"call-")) << log.text();
        EXPECT_TRUE(log.contains(unnamed)) << log.text();
    }
    CheckedSession live(text);
    ASSERT_TRUE(live.created());
    ASSERT_TRUE(v_dbg_set_property(&live.record(), "processing_sound_name", "call-0042.wav"));
    {
        LogCapture log;
        live.check(content);
        EXPECT_TRUE(log.contains(named)) << log.text();
    }
    // The later name replaces the earlier one from the next check on.
    ASSERT_TRUE(v_dbg_set_property(&live.record(), "processing_sound_name", "call-0043.wav"));
    LogCapture log;
    live.check(content);
    EXPECT_TRUE(log.contains(renamed)) << log.text();
    EXPECT_FALSE(log.contains(named)) << log.text();
}

}  // namespace
}  // namespace pipeline_test
