// Judging measured values against the configured checks and filling the result slots.
#include <cmath>
#include <limits>
#include <string>

#include "session_test_support.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using Setter = bool (PrivateSessionConfiguration::*)(double);

// The single-value setters, by the slot they fill.
Setter setter_for(ResultSlot slot) {
    switch (slot) {
    case SLOT_LENGTH: return &PrivateSessionConfiguration::try_set_length_result;
    case SLOT_DURATION: return &PrivateSessionConfiguration::try_set_duration_result;
    case SLOT_DEPTH: return &PrivateSessionConfiguration::try_set_depth_result;
    case SLOT_CHANNELS: return &PrivateSessionConfiguration::try_set_channels_result;
    case SLOT_SAMPLE_RATE: return &PrivateSessionConfiguration::try_set_sample_rate_result;
    case SLOT_TELEPHONY_BORDER: return &PrivateSessionConfiguration::try_set_telephony_border_result;
    case SLOT_OVERLOAD: return &PrivateSessionConfiguration::try_set_overload_border_result;
    case SLOT_VOICE_DURATION: return &PrivateSessionConfiguration::try_set_voice_duration_result;
    default: return nullptr;
    }
}

constexpr ResultSlot kSingleValueSlots[] = {SLOT_LENGTH,      SLOT_DURATION,         SLOT_DEPTH,
                                            SLOT_CHANNELS,    SLOT_SAMPLE_RATE,      SLOT_TELEPHONY_BORDER,
                                            SLOT_OVERLOAD,    SLOT_VOICE_DURATION};

// Every check enabled with ordinary limits, as the reader would set them.
void configure_all(PrivateSession &p, float overload = 0.5f, float voice = 1.0f) {
    ASSERT_EQ(p.set_range("length", 1, 1.0, 10, 10.0, true), 0);
    ASSERT_EQ(p.set_range("duration", 2, 2.0, 600, 600.0, true), 0);
    ASSERT_EQ(p.set_range("depth", 16, 16.0, 16, 16.0, true), 0);
    ASSERT_EQ(p.set_range("channels", 1, 1.0, 2, 2.0, true), 0);
    ASSERT_EQ(p.set_range("sample_rate", 8000, 8000.0, 48000, 48000.0, true), 0);
    p.set_number("telephony_border", 10, 10.0, true);
    p.set_number("overload_border", 0, overload, true);
    p.set_number("voice_duration", 0, voice, true);
    p.set_number("signal_noise", 15, 15.0, true);
    p.init_result();
}

struct ValidationCase {
    const char *label;
    ResultSlot slot;
    double value;
    bool passes;
    float overload = 0.5f;
    float voice = 1.0f;
};

void PrintTo(const ValidationCase &c, std::ostream *os) { *os << c.label; }

class Validation : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(Validation, StoresValueMarksSlotAndLogsFailures) {
    const ValidationCase &c = GetParam();
    LiveSession live;
    ASSERT_TRUE(live.created());
    configure_all(live.payment(), c.overload, c.voice);

    LogCapture log;
    const bool passed = (live.payment().*setter_for(c.slot))(c.value);
    const SessionValue &slot = live.slot(c.slot);
    EXPECT_EQ(passed, c.passes);
    EXPECT_EQ(slot.state, c.passes ? SESSION_VALUE_PASSED : SESSION_VALUE_FAILED);
    if (std::isnan(c.value)) {
        EXPECT_TRUE(std::isnan(slot.value));
    } else {
        EXPECT_EQ(slot.value, c.value);
    }
    EXPECT_EQ(slot.text, nullptr);
    if (c.passes) {
        EXPECT_TRUE(log.lines().empty()) << log.text();
    } else {
        char message[128];
        std::snprintf(message, sizeof message, "[library] %s failed: %lf", slot.name, c.value);
        EXPECT_EQ(log.lines().size(), 1u) << log.text();
        EXPECT_GE(log.find("WARN", "session_configuration.cpp", message), 0) << log.text();
    }
    // No other slot is touched.
    for (int i = 0; i < RESULT_SLOT_COUNT; ++i) {
        if (i != c.slot) {
            EXPECT_EQ(live.payment().results[i].state, 0) << live.payment().results[i].name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Validation,
    ::testing::Values(
        // Ranges: both ends inclusive, compared as doubles.
        ValidationCase{"length_at_min", SLOT_LENGTH, 1.0, true},
        ValidationCase{"length_at_max", SLOT_LENGTH, 10.0, true},
        ValidationCase{"length_below_min", SLOT_LENGTH, 0.9990234375, false},
        ValidationCase{"length_above_max", SLOT_LENGTH, 10.0009765625, false},
        ValidationCase{"duration_at_max", SLOT_DURATION, 600.0, true},
        ValidationCase{"duration_above_max", SLOT_DURATION, 600.5, false},
        ValidationCase{"depth_equal", SLOT_DEPTH, 16.0, true},
        ValidationCase{"depth_other", SLOT_DEPTH, 24.0, false},
        ValidationCase{"channels_at_max", SLOT_CHANNELS, 2.0, true},
        ValidationCase{"channels_above", SLOT_CHANNELS, 3.0, false},
        ValidationCase{"sample_rate_at_min", SLOT_SAMPLE_RATE, 8000.0, true},
        ValidationCase{"sample_rate_below", SLOT_SAMPLE_RATE, 7999.0, false},
        // Telephony: strictly above the border.
        ValidationCase{"telephony_equal_fails", SLOT_TELEPHONY_BORDER, 10.0, false},
        ValidationCase{"telephony_above", SLOT_TELEPHONY_BORDER, 10.01, true},
        // Overload: strictly below the border, in the border's single precision.
        ValidationCase{"overload_equal_fails", SLOT_OVERLOAD, 0.5, false},
        ValidationCase{"overload_below", SLOT_OVERLOAD, 0.49, true},
        ValidationCase{"overload_border_0_1_passes_0_1", SLOT_OVERLOAD, 0.1, true, 0.1f},
        // Voice duration: at least the border, in the border's single precision.
        ValidationCase{"voice_equal_passes", SLOT_VOICE_DURATION, 1.0, true},
        ValidationCase{"voice_below", SLOT_VOICE_DURATION, 0.99, false},
        ValidationCase{"voice_border_0_1_fails_0_1", SLOT_VOICE_DURATION, 0.1, false, 0.5f, 0.1f},
        // Not a number passes every check.
        ValidationCase{"nan_length", SLOT_LENGTH, kNaN, true},
        ValidationCase{"nan_duration", SLOT_DURATION, kNaN, true},
        ValidationCase{"nan_depth", SLOT_DEPTH, kNaN, true},
        ValidationCase{"nan_channels", SLOT_CHANNELS, kNaN, true},
        ValidationCase{"nan_sample_rate", SLOT_SAMPLE_RATE, kNaN, true},
        ValidationCase{"nan_telephony", SLOT_TELEPHONY_BORDER, kNaN, true},
        ValidationCase{"nan_overload", SLOT_OVERLOAD, kNaN, true},
        ValidationCase{"nan_voice", SLOT_VOICE_DURATION, kNaN, true}),
    [](const auto &info) { return std::string(info.param.label); });

TEST(Validation, DisabledCheckStoresValuePassesAndLogsNothing) {
    LiveSession live;
    ASSERT_TRUE(live.created());
    PrivateSession &p = live.payment();
    configure_all(p);
    for (bool *enable : {&p.length.enable, &p.duration.enable, &p.depth.enable, &p.channels.enable,
                         &p.sample_rate.enable, &p.telephony_border.enable,
                         &p.overload_border.enable, &p.voice_duration.enable}) {
        *enable = false;
    }
    LogCapture log;
    for (ResultSlot slot : kSingleValueSlots) {
        // -1000 fails every enabled check above, and so does 1e9 for the upper ones.
        for (double value : {-1000.0, 1e9}) {
            EXPECT_TRUE((p.*setter_for(slot))(value)) << p.results[slot].name << " " << value;
            EXPECT_EQ(p.results[slot].state, SESSION_VALUE_PASSED) << p.results[slot].name;
            EXPECT_EQ(p.results[slot].value, value) << p.results[slot].name;
        }
    }
    EXPECT_TRUE(log.lines().empty()) << log.text();
}

TEST(Validation, UnconfiguredCheckSwitchedOnJudgesAgainstZeroLimits) {
    LiveSession live;
    ASSERT_TRUE(live.created());
    ASSERT_TRUE(v_enable_property(&live.record(), "channels", true));
    EXPECT_TRUE(live.payment().try_set_channels_result(0.0));
    EXPECT_FALSE(live.payment().try_set_channels_result(1.0));
}

struct SignalNoiseCase {
    const char *label;
    std::vector<double> values;
    bool passes;
    double minimum;  // NaN: the minimum must be NaN
    const char *text;
    int failure_lines;
};

void PrintTo(const SignalNoiseCase &c, std::ostream *os) { *os << c.label; }

class SignalNoise : public ::testing::TestWithParam<SignalNoiseCase> {};

TEST_P(SignalNoise, MinimumTextAndFailures) {
    const SignalNoiseCase &c = GetParam();
    LiveSession live;  // signal_noise border 15, enabled
    ASSERT_TRUE(live.created());
    LogCapture log;
    const bool passed = live.payment().try_set_signal_noise_results(
        c.values.data(), static_cast<int>(c.values.size()));
    const SessionValue &slot = live.slot(SLOT_SIGNAL_NOISE);
    EXPECT_EQ(passed, c.passes);
    EXPECT_EQ(slot.state, c.passes ? SESSION_VALUE_PASSED : SESSION_VALUE_FAILED);
    if (std::isnan(c.minimum)) {
        EXPECT_TRUE(std::isnan(slot.value)) << slot.value;
    } else {
        EXPECT_EQ(slot.value, c.minimum);
    }
    ASSERT_NE(slot.text, nullptr);
    EXPECT_STREQ(slot.text, c.text);
    EXPECT_EQ(log.count("[library] SignalNoise failed."), c.failure_lines) << log.text();
    for (double value : c.values) {
        if (15.0 > value) {
            char message[96];
            std::snprintf(message, sizeof message, "[library] SignalNoise failed. %lf less then 15", value);
            EXPECT_GE(log.find("WARN", "session_configuration.cpp", message), 0) << log.text();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SignalNoise,
    ::testing::Values(
        SignalNoiseCase{"two_passing", {22.5, 18.25}, true, 18.25, "22.500000, 18.250000", 0},
        SignalNoiseCase{"equal_to_border_passes", {15.0}, true, 15.0, "15.000000", 0},
        SignalNoiseCase{"two_failing_channels", {12.5, 8.25}, false, 8.25, "12.500000, 8.250000", 2},
        SignalNoiseCase{"one_of_three_fails", {20.0, 3.0, 30.0}, false, 3.0,
                        "20.000000, 3.000000, 30.000000", 1},
        SignalNoiseCase{"nan_later_leaves_minimum", {20.0, kNaN, 17.0}, true, 17.0,
                        "20.000000, nan, 17.000000", 0},
        SignalNoiseCase{"nan_first_stays_minimum", {kNaN, 20.0, 3.0}, false, kNaN,
                        "nan, 20.000000, 3.000000", 1},
        SignalNoiseCase{"no_values", {}, true, 0.0, "", 0}),
    [](const auto &info) { return std::string(info.param.label); });

TEST(SignalNoise, NullArrayReadsNothing) {
    LiveSession live;
    ASSERT_TRUE(live.created());
    for (int count : {0, -1, 3}) {
        EXPECT_TRUE(live.payment().try_set_signal_noise_results(nullptr, count)) << count;
        EXPECT_EQ(live.slot(SLOT_SIGNAL_NOISE).value, 0.0);
        EXPECT_EQ(live.slot(SLOT_SIGNAL_NOISE).state, SESSION_VALUE_PASSED);
        ASSERT_NE(live.slot(SLOT_SIGNAL_NOISE).text, nullptr);
        EXPECT_STREQ(live.slot(SLOT_SIGNAL_NOISE).text, "");
    }
}

TEST(SignalNoise, TextLivesUntilTheNextResetAndIsReleased) {
    LiveSession live;
    ASSERT_TRUE(live.created());
    const double first[] = {20.0, 30.0};
    const double second[] = {40.0};
    ASSERT_TRUE(live.payment().try_set_signal_noise_results(first, 2));
    const char *text = live.slot(SLOT_SIGNAL_NOISE).text;
    // Other slots being filled does not disturb it.
    live.payment().try_set_length_result(1.0);
    EXPECT_STREQ(text, "20.000000, 30.000000");
    EXPECT_EQ(live.slot(SLOT_SIGNAL_NOISE).text, text);

    // A second call before a reset replaces the text; the first one is released, not leaked.
    ASSERT_TRUE(live.payment().try_set_signal_noise_results(second, 1));
    EXPECT_STREQ(live.slot(SLOT_SIGNAL_NOISE).text, "40.000000");

    live.payment().init_result();
    EXPECT_EQ(live.slot(SLOT_SIGNAL_NOISE).text, nullptr);
    EXPECT_EQ(live.payment().signal_noise_text, nullptr);
    // A text still held at destruction is released by the destructor (ASan's leak check).
    ASSERT_TRUE(live.payment().try_set_signal_noise_results(first, 2));
}

}  // namespace
