// v_check_all against v_check and against the standalone measurements: the same answer and state
// on every byte-built case and sample recording, the same slot values wherever v_check evaluated
// a slot, every header value once the header is read, all four measurements once the samples
// decode, switches honoured in the judging only, and each failed value logged once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "pipeline_outcomes.h"
#include "sound.h"

namespace pipeline_test {
namespace {

const char *const kHeaderSlots[] = {"duration", "depth", "channels", "sample_rate"};
const char *const kMeasuredSlots[] = {"telephony_border", "overload", "signal_noise",
                                      "voice_duration"};

bool same_value(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

std::string text_of(const SessionValue *value) {
    return value->text != nullptr ? value->text : "<null>";
}

// What the standalone functions give for one content: which steps can be taken and the four
// measured values.
struct Standalone {
    bool head_read = false;
    bool decoded = false;
    Head head{};
    double telephony_border = 0.0;
    double overload = 0.0;
    std::vector<double> signal_noise;
    double voice_duration = 0.0;
};

Standalone standalone(const Bytes &content) {
    Standalone out;
    if (content.empty()) return out;
    LogCapture quiet;
    out.head_read = read_head(content.data(), content.size(), &out.head);
    if (!out.head_read) return out;
    Unpack unpack{};
    out.decoded = read_unpack(&out.head, &unpack);
    if (!out.decoded) return out;
    out.telephony_border = get_telephony_border(&out.head, &unpack);
    out.overload = get_overloading_value(&unpack);
    std::unique_ptr<double[]> values(read_signal_noise(&out.head, &unpack));
    if (values != nullptr) out.signal_noise.assign(values.get(), values.get() + unpack.channel_count);
    out.voice_duration = get_filtered_duration(&out.head, &unpack);
    free_unpack(&unpack);
    return out;
}

// The signal-to-noise text try_set_signal_noise_results writes for these values.
std::string joined(const std::vector<double> &values) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        char piece[64];
        std::snprintf(piece, sizeof piece, "%s%f", i == 0 ? "" : ", ", values[i]);
        text += piece;
    }
    return text;
}

// The number of log lines a failed slot wrote.
size_t failure_lines(const LogCapture &log, const std::string &name) {
    const std::string piece =
        name == "signal_noise" ? "[library] SignalNoise failed." : "[library] " + name + " failed:";
    size_t count = 0;
    for (const std::string &line : log.lines()) {
        if (line.find(piece) != std::string::npos) ++count;
    }
    return count;
}

// Checks one content on two fresh sessions of the same configuration, one through each call.
void compare(const std::string &what, const std::string &configuration_text, const Bytes &content) {
    SCOPED_TRACE(what);
    CheckedSession stopping(configuration_text);
    CheckedSession everything(configuration_text);
    ASSERT_TRUE(stopping.created());
    ASSERT_TRUE(everything.created());
    Session &first = stopping.record();
    Session &all = everything.record();

    const bool first_result = v_check(&first, content.data(), content.size());
    LogCapture log(LOG_WARN);
    const bool all_result = v_check_all(&all, content.data(), content.size());

    EXPECT_EQ(all_result, first_result);
    EXPECT_EQ(all.state, first.state) << slot_states(first) << " / " << slot_states(all);

    const Standalone expected = standalone(content);
    for (const std::string &name : slot_names()) {
        SCOPED_TRACE(name);
        const SessionValue *before = slot(first, name);
        const SessionValue *after = slot(all, name);
        ASSERT_NE(before, nullptr);
        ASSERT_NE(after, nullptr);
        EXPECT_EQ(after->enable, before->enable);
        // Wherever v_check evaluated the slot, v_check_all agrees on everything in it.
        if (before->state != SESSION_VALUE_NOT_EVALUATED) {
            EXPECT_EQ(after->state, before->state);
            EXPECT_TRUE(same_value(after->value, before->value)) << before->value << " " << after->value;
            EXPECT_EQ(text_of(after), text_of(before));
        }
        // Which slots v_check_all evaluates depends on the content alone.
        const bool header_slot = std::find(std::begin(kHeaderSlots), std::end(kHeaderSlots), name) !=
                                 std::end(kHeaderSlots);
        const bool reached = name == "length" ? !content.empty()
                             : header_slot   ? expected.head_read
                                             : expected.decoded;
        EXPECT_EQ(after->state != SESSION_VALUE_NOT_EVALUATED, reached) << slot_states(all);
        // A switched-off check records its value and passes.
        if (reached && !after->enable) {
            EXPECT_EQ(after->state, SESSION_VALUE_PASSED);
        }
        // Every failed value is logged once, and nothing else is.
        if (name != "signal_noise") {
            EXPECT_EQ(failure_lines(log, name), after->state == SESSION_VALUE_FAILED ? 1u : 0u)
                << log.text();
        } else if (after->state != SESSION_VALUE_FAILED) {
            EXPECT_EQ(failure_lines(log, name), 0u) << log.text();
        }
    }
    // The header values are the header's, the measured ones the standalone functions'.
    if (expected.head_read) {
        EXPECT_EQ(slot(all, "duration")->value, expected.head.duration);
        EXPECT_EQ(slot(all, "depth")->value, expected.head.bits_per_sample);
        EXPECT_EQ(slot(all, "channels")->value, expected.head.channels);
        EXPECT_EQ(slot(all, "sample_rate")->value, expected.head.sample_rate);
    }
    if (expected.decoded) {
        EXPECT_TRUE(same_value(slot(all, "telephony_border")->value, expected.telephony_border));
        EXPECT_TRUE(same_value(slot(all, "overload")->value, expected.overload));
        EXPECT_TRUE(same_value(slot(all, "voice_duration")->value, expected.voice_duration));
        EXPECT_EQ(text_of(slot(all, "signal_noise")), joined(expected.signal_noise));
        if (!expected.signal_noise.empty()) {
            // The slot's value is the minimum, NaN staying first when it comes first.
            double minimum = expected.signal_noise[0];
            for (double value : expected.signal_noise) minimum = value < minimum ? value : minimum;
            EXPECT_TRUE(same_value(slot(all, "signal_noise")->value, minimum));
        }
    }
}

TEST(CheckAll, AgreesWithCheckOnEveryByteBuiltOutcome) {
    size_t compared = 0;
    for (const Outcome &row : outcomes()) {
        if (row.call != Call::check) continue;
        compare(row.what, configuration(row.overrides), row.content);
        ++compared;
    }
    EXPECT_GE(compared, 15u);
}

// Each failing check switched off on its own, over a recording that passes everything else:
// v_check_all still obtains the value, records it as passed, and answers as v_check does (true).
TEST(CheckAll, SwitchedOffChecksRecordTheirValuesAndPass) {
    const std::map<std::string, std::string> failing = {
        {"telephony_border", R"({ "value": 10, "enable": false })"},
        {"overload_border", R"({ "value": 0.5, "enable": false })"},
        {"signal_noise", R"({ "value": 15, "enable": false })"},
        {"voice_duration", R"({ "value": 1.0, "enable": false })"},
        {"duration", R"({ "min": 5, "max": 600, "enable": false })"},
    };
    const std::map<std::string, std::string> slot_of = {
        {"telephony_border", "telephony_border"}, {"overload_border", "overload"},
        {"signal_noise", "signal_noise"},         {"voice_duration", "voice_duration"},
        {"duration", "duration"}};
    for (const auto &[name, body] : failing) {
        const std::string text = configuration(blip_configuration({{name, body}}));
        // overload only fails on the clipped blip, the others on the steady one.
        const Bytes &content = name == "overload_border" ? kClippedBlip : kSteadyBlip;
        compare(name + " off", text, content);
        CheckedSession live(text);
        ASSERT_TRUE(live.created());
        EXPECT_TRUE(v_check_all(&live.record(), content.data(), content.size())) << name;
        EXPECT_EQ(live.record().state, STATE_OK) << name;
        const SessionValue *value = slot(live.record(), slot_of.at(name));
        EXPECT_FALSE(value->enable) << name;
        EXPECT_EQ(value->state, SESSION_VALUE_PASSED) << name;
    }
    // With signal_noise off, v_check never measures the voice duration: v_check_all records it,
    // and lets it pass even though its own check is on and the value is under its border.
    const std::string text = configuration(blip_configuration(
        {{"signal_noise", failing.at("signal_noise")}, {"voice_duration", R"({ "value": 1.0 })"}}));
    compare("voice duration under a switched-off signal_noise", text, kSteadyBlip);
    CheckedSession live(text);
    ASSERT_TRUE(live.created());
    EXPECT_TRUE(v_check_all(&live.record(), kSteadyBlip.data(), kSteadyBlip.size()));
    EXPECT_EQ(slot(live.record(), "voice_duration")->state, SESSION_VALUE_PASSED);
}

TEST(CheckAll, AgreesWithCheckOnTheSampleRecordings) {
    const std::string directory = SONARA_SOURCE_DIR "/samples";
    const Bytes file = read_bytes(SONARA_SOURCE_DIR "/config/cv_configuration.json");
    const std::string text(file.begin(), file.end());
    ASSERT_FALSE(text.empty());
    size_t compared = 0;
    for (const auto &entry : std::filesystem::directory_iterator(directory)) {
        if (entry.path().extension() != ".wav") continue;
        compare(entry.path().filename().string(), text, read_bytes(entry.path().string()));
        ++compared;
    }
    EXPECT_GE(compared, 10u);
}

// Headers that v_check's everyday limits stop early but that v_check_all takes on to decoding,
// where the decoding bound refuses them: the state stays the first failure, and nothing is
// measured.
TEST(CheckAll, HostileHeadersPastTheLimitsMeetTheDecodingBound) {
    const struct {
        const char *what;
        Format format;
        size_t data_bytes;
    } rows[] = {
        {"65535 channels in one-byte frames", {65535, 16000, 16, -1, 1}, 4096},
        {"one hertz", {1, 1, 16, -1, -1}, 60000},
        {"33 short channels", {33, 16000, 16, -1, -1}, 33 * 16000},
    };
    for (const auto &row : rows) {
        const Bytes file = wav(row.format, Bytes(row.data_bytes, 0x55));
        compare(row.what, configuration(), file);
        CheckedSession live(configuration());
        ASSERT_TRUE(live.created());
        EXPECT_FALSE(v_check_all(&live.record(), file.data(), file.size()));
        EXPECT_NE(live.record().state, STATE_UNPACK_FAILED) << row.what;
        EXPECT_EQ(slot(live.record(), "overload")->state, SESSION_VALUE_NOT_EVALUATED) << row.what;
    }
}

// The calls that never reach the pipeline answer as v_check does.
TEST(CheckAll, RefusedCallsAnswerAsCheck) {
    const Bytes content = tone(Format{}, 2.5);
    CheckedSession live(configuration());
    ASSERT_TRUE(live.created());
    Session &session = live.record();
    ASSERT_TRUE(v_check_all(&session, content.data(), content.size()) || session.state != 0);
    const std::string before = slot_states(session);

    LogCapture log;
    EXPECT_FALSE(v_check_all(&session, nullptr, 10));
    EXPECT_EQ(session.state, STATE_CONTENT_FAILED);
    EXPECT_FALSE(v_check_all(&session, content.data(), 0));
    EXPECT_EQ(session.state, STATE_CONTENT_FAILED);
    EXPECT_TRUE(log.contains("[library] Content failed"));
    EXPECT_EQ(slot_states(session), before);  // the previous results stay

    Session blank{};
    EXPECT_FALSE(v_check_all(&blank, content.data(), content.size()));
    EXPECT_EQ(blank.state, STATE_BAD_SESSION);
    EXPECT_FALSE(v_check_all(nullptr, content.data(), content.size()));
}

}  // namespace
}  // namespace pipeline_test
