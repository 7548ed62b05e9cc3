// Shared helpers for the session tests: a log capture through libcommon's logger, and a
// session created from configuration text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libcommon.h"
#include "private_session.h"
#include "session.h"
#include "sonara.h"
#include "support/log_capture.h"
#include "support/owned_session.h"

// The two properties every configuration must carry, and nothing else.
inline constexpr char kMinimalConfiguration[] =
    R"({ "signal_noise": { "value": 15 }, "overload_border": { "value": 0.5 } })";

// The shared capture, plus lookups by the "<LEVEL> <unit>:<line>: <message>" shape of a line.
class LogCapture : public test_support::LogCapture {
public:
    using test_support::LogCapture::LogCapture;

    // Position of the first line at or after `from` written at `level` ("ERROR") by `unit`
    // ("libsound.cpp") that contains `message`; -1 when there is none.
    int find(const std::string &level, const std::string &unit, const std::string &message,
             int from = 0) const {
        const std::vector<std::string> all = lines();
        const std::string prefix = level + " " + unit + ":";
        for (size_t i = static_cast<size_t>(from); i < all.size(); ++i) {
            if (all[i].rfind(prefix, 0) == 0 && all[i].find(message) != std::string::npos) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    // The number of lines that contain message.
    int count(const std::string &message) const {
        int n = 0;
        for (const std::string &line : lines()) {
            if (line.find(message) != std::string::npos) ++n;
        }
        return n;
    }
};

// A live session created from configuration text; destroyed with the fixture.
class LiveSession : public test_support::OwnedSession {
public:
    explicit LiveSession(const char *configuration = kMinimalConfiguration) {
        created_ = v_create_session_from_memory(&session_, configuration);
    }

    PrivateSession &payment() { return *session_.payment; }
    SessionValue &slot(ResultSlot which) { return session_.payment->results[which]; }
};
