// Per-session switches: enabling checks by property name, and the debug sound name.
#include <cstring>
#include <string>

#include "session_test_support.h"

namespace {

// Every check's enable flag, in a fixed order, so a switch can be compared as a whole.
std::vector<bool> flags(const PrivateSession &p) {
    return {p.signal_noise.enable, p.duration.enable,    p.voice_duration.enable,
            p.sample_rate.enable,  p.channels.enable,    p.length.enable,
            p.depth.enable,        p.telephony_border.enable, p.overload_border.enable};
}

constexpr const char *kFlagNames[] = {"signal_noise", "duration", "voice_duration",
                                      "sample_rate",  "channels", "length",
                                      "depth",        "telephony_border", "overload_border"};

struct SwitchCase {
    const char *label;
    const char *name;
    int flag;  // index into flags(), -1 when the name is refused
};

void PrintTo(const SwitchCase &c, std::ostream *os) { *os << c.label; }

class EnableProperty : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(EnableProperty, SetsExactlyTheNamedFlag) {
    const SwitchCase &c = GetParam();
    LiveSession live;  // every flag false but the two required ones
    ASSERT_TRUE(live.created());
    for (bool enable : {true, false}) {
        std::vector<bool> expected = flags(live.payment());
        if (c.flag >= 0) expected[static_cast<size_t>(c.flag)] = enable;
        live.record().state = 77;
        LogCapture log;
        EXPECT_EQ(v_enable_property(&live.record(), c.name, enable), c.flag >= 0);
        EXPECT_EQ(live.record().state, STATE_OK);
        EXPECT_EQ(flags(live.payment()), expected) << (c.name ? c.name : "(null)") << " " << enable;
        EXPECT_TRUE(log.lines().empty()) << log.text();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EnableProperty,
    ::testing::Values(SwitchCase{"signal_noise", "signal_noise", 0},
                      SwitchCase{"duration", "duration", 1},
                      SwitchCase{"voice_duration", "voice_duration", 2},
                      SwitchCase{"sample_rate", "sample_rate", 3},
                      SwitchCase{"channels", "channels", 4},
                      SwitchCase{"length", "length", 5},
                      SwitchCase{"depth", "depth", 6},
                      SwitchCase{"telephony_border", "telephony_border", 7},
                      SwitchCase{"overload_border", "overload_border", 8},
                      SwitchCase{"slot_name_overload", "overload", -1},
                      SwitchCase{"other_case", "Signal_noise", -1},
                      SwitchCase{"upper_case", "DEPTH", -1},
                      SwitchCase{"trailing_blank", "length ", -1},
                      SwitchCase{"prefix_only", "sample", -1},
                      SwitchCase{"empty", "", -1},
                      SwitchCase{"null_name", nullptr, -1}),
    [](const auto &info) { return std::string(info.param.label); });

TEST(EnableProperty, TableNamesMatchTheirChecks) {
    // The switch names are the configuration's property names.
    LiveSession live;
    ASSERT_TRUE(live.created());
    for (size_t i = 0; i < std::size(kFlagNames); ++i) {
        ASSERT_TRUE(v_enable_property(&live.record(), kFlagNames[i], true));
        EXPECT_TRUE(flags(live.payment())[i]) << kFlagNames[i];
    }
}

TEST(EnableProperty, SlotCopiesChangeOnlyAtTheNextReset) {
    LiveSession live;
    ASSERT_TRUE(live.created());
    SessionValue *first = nullptr;
    ASSERT_TRUE(v_result_session(&live.record(), &first));
    EXPECT_FALSE(live.slot(SLOT_DEPTH).enable);
    EXPECT_TRUE(live.slot(SLOT_OVERLOAD).enable);

    ASSERT_TRUE(v_enable_property(&live.record(), "depth", true));
    ASSERT_TRUE(v_enable_property(&live.record(), "overload_border", false));
    EXPECT_FALSE(live.slot(SLOT_DEPTH).enable);
    EXPECT_TRUE(live.slot(SLOT_OVERLOAD).enable);
    // The comparison sees the switch at once.
    EXPECT_FALSE(live.payment().try_set_depth_result(24.0));
    EXPECT_TRUE(live.payment().try_set_overload_border_result(0.9));

    live.payment().init_result();
    EXPECT_TRUE(live.slot(SLOT_DEPTH).enable);
    EXPECT_FALSE(live.slot(SLOT_OVERLOAD).enable);
    SessionValue *again = nullptr;
    ASSERT_TRUE(v_result_session(&live.record(), &again));
    EXPECT_EQ(first, again);
}

TEST(Switches, InvalidRecordsAreRefused) {
    for (const char *kind : {"blank", "destroyed"}) {
        Session session{};
        if (std::strcmp(kind, "destroyed") == 0) {
            ASSERT_TRUE(v_create_session_from_memory(&session, kMinimalConfiguration));
            ASSERT_TRUE(v_destroy_session(&session));
        }
        session.state = STATE_OK;
        EXPECT_FALSE(v_enable_property(&session, "duration", true)) << kind;
        EXPECT_EQ(session.state, STATE_BAD_SESSION) << kind;
        session.state = STATE_OK;
        EXPECT_FALSE(v_dbg_set_property(&session, "processing_sound_name", "a.wav")) << kind;
        EXPECT_EQ(session.state, STATE_BAD_SESSION) << kind;
    }
    LogCapture log;
    EXPECT_FALSE(v_enable_property(nullptr, "duration", true));
    EXPECT_FALSE(v_dbg_set_property(nullptr, "processing_sound_name", "a.wav"));
    EXPECT_EQ(log.count("Указатель на объект session указывает на null"), 2);
}

TEST(DbgSetProperty, StoresACopyAndReplacesTheOldOne) {
    LiveSession live;
    ASSERT_TRUE(live.created());
    Session &session = live.record();
    char caller_text[] = "first.wav";
    ASSERT_TRUE(v_dbg_set_property(&session, "processing_sound_name", caller_text));
    ASSERT_NE(live.payment().processing_sound_name, nullptr);
    EXPECT_NE(live.payment().processing_sound_name, caller_text) << "a copy, not the caller's text";
    std::strcpy(caller_text, "changed!!");
    EXPECT_STREQ(live.payment().processing_sound_name, "first.wav");

    // The second value replaces the first; ASan's leak check catches a lost first copy.
    ASSERT_TRUE(v_dbg_set_property(&session, "processing_sound_name", "second.wav"));
    EXPECT_STREQ(live.payment().processing_sound_name, "second.wav");

    struct Refused {
        const char *name;
        const char *value;
    };
    for (const Refused &r : {Refused{"processing_image_name", "x.wav"},
                             Refused{"processing_sound_name ", "x.wav"},
                             Refused{nullptr, "x.wav"},
                             Refused{"processing_sound_name", nullptr}}) {
        session.state = 77;
        EXPECT_FALSE(v_dbg_set_property(&session, r.name, r.value));
        EXPECT_EQ(session.state, STATE_OK);
        EXPECT_STREQ(live.payment().processing_sound_name, "second.wav");
    }
}

}  // namespace
