// Filling the configured checks: the setters the reader calls, and whole configurations.
#include <string>

#include "session_test_support.h"

namespace {

struct RangeCase {
    const char *label;
    const char *name;
    int i_min;
    double d_min;
    int i_max;
    double d_max;
    bool enable;
    int answer;
    bool stored;  // whether the "duration" check took the entry
};

void PrintTo(const RangeCase &c, std::ostream *os) { *os << c.label; }

class SetRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(SetRange, OrderTestThenStore) {
    const RangeCase &c = GetParam();
    LiveSession live;
    ASSERT_TRUE(live.created());
    PrivateSession &payment = live.payment();
    const IntValue before = payment.duration;

    LogCapture log;
    EXPECT_EQ(payment.set_range(c.name, c.i_min, c.d_min, c.i_max, c.d_max, c.enable), c.answer);
    if (c.stored) {
        EXPECT_EQ(payment.duration.i_min, c.i_min);
        EXPECT_EQ(payment.duration.i_max, c.i_max);
        EXPECT_EQ(payment.duration.enable, c.enable);
        EXPECT_TRUE(payment.duration.configured);
    } else {
        EXPECT_EQ(payment.duration.i_min, before.i_min);
        EXPECT_EQ(payment.duration.i_max, before.i_max);
        EXPECT_EQ(payment.duration.configured, before.configured);
    }
    EXPECT_EQ(payment.signal_noise.border, 15) << "a range entry never fills a number check";
    if (c.answer == -1) {
        const int wrong = log.find("ERROR", "session_helper.cpp",
                                   std::string("Wrong configuration '") + c.name +
                                       "' : minimum value greater than maximum");
        EXPECT_GE(wrong, 0) << log.text();
        char detail[160];
        std::snprintf(detail, sizeof detail, "i_min %d, d_min %lf, i_max %d, d_max %lf, enable 1",
                      c.i_min, c.d_min, c.i_max, c.d_max);
        EXPECT_GT(log.find("DEBUG", "session_helper.cpp", detail, wrong), wrong) << log.text();
    } else {
        EXPECT_TRUE(log.lines().empty()) << log.text();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetRange,
    ::testing::Values(
        RangeCase{"in_order", "duration", 2, 2.0, 600, 600.0, true, 0, true},
        RangeCase{"equal_ends", "duration", 5, 5.0, 5, 5.0, true, 0, true},
        RangeCase{"reversed_int_forms", "duration", 10, 10.0, 5, 5.0, true, -1, false},
        RangeCase{"reversed_float_forms_only", "duration", 1, 1.5, 1, 1.2, true, -1, false},
        RangeCase{"reversed_int_forms_only", "duration", 2, 1.0, 1, 2.0, true, -1, false},
        RangeCase{"disabled_reversed_is_stored", "duration", 10, 10.0, 5, 5.0, false, 0, true},
        // Doubles that differ only beyond single precision are equal once narrowed.
        RangeCase{"equal_beyond_single_precision", "duration", 1, 1.00000001, 1, 1.0, true, 0,
                  true},
        RangeCase{"number_property_name_ignored", "signal_noise", 1, 1.0, 2, 2.0, true, 0, false},
        RangeCase{"number_property_name_reversed", "signal_noise", 10, 10.0, 5, 5.0, true, -1,
                  false},
        RangeCase{"unknown_name", "loudness", 1, 1.0, 2, 2.0, true, 0, false}),
    [](const auto &info) { return std::string(info.param.label); });

TEST(SetRange, EveryRangePropertyFillsItsOwnCheck) {
    LiveSession live;
    ASSERT_TRUE(live.created());
    PrivateSession &p = live.payment();
    const struct {
        const char *name;
        IntValue *check;
    } rows[] = {{"duration", &p.duration}, {"sample_rate", &p.sample_rate},
                {"channels", &p.channels}, {"depth", &p.depth},
                {"length", &p.length}};
    int base = 10;
    for (const auto &row : rows) {
        ASSERT_EQ(p.set_range(row.name, base, base, base + 1, base + 1, true), 0);
        base += 10;
    }
    base = 10;
    for (const auto &row : rows) {
        EXPECT_EQ(row.check->i_min, base) << row.name;
        EXPECT_EQ(row.check->i_max, base + 1) << row.name;
        EXPECT_TRUE(row.check->enable && row.check->configured) << row.name;
        base += 10;
    }
}

TEST(SetNumber, IntegerAndRealFormsGoToTheirChecks) {
    LiveSession live(R"({"signal_noise": {"value": 15}, "overload_border": {"value": 0.5}})");
    ASSERT_TRUE(live.created());
    PrivateSession &p = live.payment();

    p.set_number("signal_noise", 20, 99.9, false);
    p.set_number("telephony_border", 7, 99.9, true);
    p.set_number("overload_border", 99, 0.1, true);
    p.set_number("voice_duration", 99, 1.25, true);
    EXPECT_EQ(p.signal_noise.border, 20);
    EXPECT_FALSE(p.signal_noise.enable);
    EXPECT_EQ(p.telephony_border.border, 7);
    EXPECT_TRUE(p.telephony_border.configured);
    EXPECT_EQ(p.overload_border.border, 0.1f);
    EXPECT_EQ(p.voice_duration.border, 1.25f);
    EXPECT_TRUE(p.voice_duration.configured);

    // A range property named in a number entry, and an unknown name, change nothing.
    const IntValue duration = p.duration;
    p.set_number("duration", 5, 5.0, true);
    p.set_number("overload", 5, 5.0, true);
    EXPECT_EQ(p.duration.i_min, duration.i_min);
    EXPECT_EQ(p.duration.configured, duration.configured);
    EXPECT_EQ(p.overload_border.border, 0.1f);
}

TEST(SetConfigurationHash, KeepsTextsThatFitIgnoresLongerOnes) {
    LiveSession live;
    ASSERT_TRUE(live.created());
    PrivateSession &p = live.payment();
    const std::string fits(255, 'a');
    const std::string too_long(256, 'b');

    const std::string from_reader = p.hash;
    ASSERT_EQ(from_reader.size(), 64u);
    p.set_configuration_hash(too_long.c_str(), too_long.size());
    EXPECT_EQ(std::string(p.hash), from_reader) << "256 characters leave the field as it was";
    p.set_configuration_hash(fits.c_str(), fits.size());
    EXPECT_EQ(std::string(p.hash), fits);
    p.set_configuration_hash(too_long.c_str(), too_long.size());
    EXPECT_EQ(std::string(p.hash), fits);
    // The length bounds the copy even when the text runs on.
    p.set_configuration_hash("0123456789", 4);
    EXPECT_STREQ(p.hash, "0123");
}

TEST(ReadConfiguration, WholeConfigurations) {
    {
        // Only the two required entries: the other seven stay disabled with zero limits.
        LiveSession live;
        ASSERT_TRUE(live.created());
        PrivateSession &p = live.payment();
        for (const IntValue *range : {&p.duration, &p.sample_rate, &p.channels, &p.depth, &p.length}) {
            EXPECT_FALSE(range->enable || range->configured);
            EXPECT_EQ(range->i_min, 0);
            EXPECT_EQ(range->i_max, 0);
        }
        EXPECT_FALSE(p.telephony_border.enable || p.voice_duration.enable);
        EXPECT_EQ(p.processing_sound_name, nullptr);
        EXPECT_EQ(p.signal_noise.border, 15);
        EXPECT_EQ(p.overload_border.border, 0.5f);
    }
    {
        // A repeated entry: the later one wins.
        LiveSession live(R"({"signal_noise": {"value": 15}, "overload_border": {"value": 0.5},
                             "duration": {"min": 1, "max": 9}, "duration": {"min": 3, "max": 4},
                             "signal_noise": {"value": 30, "enable": false}})");
        ASSERT_TRUE(live.created());
        EXPECT_EQ(live.payment().duration.i_min, 3);
        EXPECT_EQ(live.payment().duration.i_max, 4);
        EXPECT_EQ(live.payment().signal_noise.border, 30);
        EXPECT_FALSE(live.payment().signal_noise.enable);
    }
    {
        // A disabled reversed range loads and is stored as given.
        LiveSession live(R"({"signal_noise": {"value": 15}, "overload_border": {"value": 0.5},
                             "length": {"min": 10, "max": 5, "enable": false}})");
        ASSERT_TRUE(live.created());
        EXPECT_EQ(live.payment().length.i_min, 10);
        EXPECT_EQ(live.payment().length.i_max, 5);
        EXPECT_FALSE(live.payment().length.enable);
    }
    {
        // An enabled reversed range is refused, and with it the configuration.
        LiveSession live(R"({"signal_noise": {"value": 15}, "overload_border": {"value": 0.5},
                             "length": {"min": 1.5, "max": 1.2}})");
        EXPECT_FALSE(live.created());
        EXPECT_EQ(live.record().state, STATE_BAD_CONFIGURATION);
    }
}

TEST(ReadConfiguration, ARefusedNameIsLoggedEscapedAndBounded) {
    struct Case {
        const char *what;
        std::string name_json;  // as written in the configuration
        std::string logged;     // as it appears in the level-5 line
    };
    const Case cases[] = {
        {"an escaped newline", "x\\nERROR libsound.cpp:1: forged", "x\\nERROR libsound.cpp:1: forged"},
        {"a huge name", std::string(100000, 'n'), std::string(LOG_TEXT_LIMIT, 'n') + LOG_TEXT_CUT_MARK},
    };
    for (const Case &c : cases) {
        const std::string configuration =
            R"({"signal_noise": {"value": 15}, "overload_border": {"value": 0.5}, ")" + c.name_json +
            R"(": {"min": 5, "max": 1}})";
        LogCapture log(LOG_ERROR);
        LiveSession live(configuration.c_str());
        EXPECT_FALSE(live.created()) << c.what;
        const std::string wrong = "Wrong configuration '" + c.logged + "' : minimum value greater than maximum";
        EXPECT_GE(log.find("ERROR", "session_helper.cpp", wrong), 0) << c.what << "\n" << log.text().substr(0, 600);
        for (const std::string &line : log.lines()) {
            EXPECT_NE(line.rfind("ERROR libsound.cpp:1:", 0), 0u) << "a forged line\n" << log.text();
            EXPECT_LT(line.size(), 400u) << c.what;
        }
    }
}

}  // namespace
