// v_session_limit answers the limits as the session stores and judges them: integer borders
// truncated, real ones in single precision, switches as they stand.
#include <gtest/gtest.h>

#include <cmath>

#include "sonara.h"

namespace {

constexpr char CONFIGURATION[] = R"({
  "version": "limits",
  "length": { "min": 1, "max": 20480 },
  "duration": { "min": 2.9, "max": 30, "enable": false },
  "signal_noise": { "value": 15.7 },
  "overload_border": { "value": 0.3 },
  "voice_duration": { "value": 1.1 }
})";

TEST(SessionLimit, AnswersWhatTheSessionJudges) {
    Session session{};
    ASSERT_TRUE(v_create_session_from_memory(&session, CONFIGURATION));
    const struct {
        const char *property;
        bool range, configured, enabled;
        double minimum, maximum;
    } cases[] = {
        {"length", true, true, true, 1, 20480},
        {"duration", true, true, false, 2, 30},  // truncated to whole seconds
        {"signal_noise", false, true, true, 15, 15},
        {"overload_border", false, true, true, static_cast<double>(0.3f), static_cast<double>(0.3f)},
        {"voice_duration", false, true, true, static_cast<double>(1.1f), static_cast<double>(1.1f)},
        {"sample_rate", true, false, false, 0, 0},  // not configured: off with zero limits
    };
    for (const auto &c : cases) {
        SonaraLimit limit{};
        ASSERT_TRUE(v_session_limit(&session, c.property, &limit)) << c.property;
        EXPECT_EQ(limit.range, c.range) << c.property;
        EXPECT_EQ(limit.configured, c.configured) << c.property;
        EXPECT_EQ(limit.enabled, c.enabled) << c.property;
        EXPECT_EQ(limit.minimum, c.minimum) << c.property;
        EXPECT_EQ(limit.maximum, c.maximum) << c.property;
    }
    ASSERT_TRUE(v_enable_property(&session, "length", false));
    SonaraLimit length{};
    ASSERT_TRUE(v_session_limit(&session, "length", &length));
    EXPECT_FALSE(length.enabled);
    SonaraLimit unknown{};
    EXPECT_FALSE(v_session_limit(&session, "loudness", &unknown));
    EXPECT_FALSE(v_session_limit(&session, nullptr, &unknown));
    ASSERT_TRUE(v_destroy_session(&session));
    EXPECT_FALSE(v_session_limit(&session, "length", &unknown));  // no longer a live session
}

}  // namespace
