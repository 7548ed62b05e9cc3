// Shared helpers for the session tests: a log capture through libcommon's logger, and a
// session created from configuration text.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "libcommon.h"
#include "private_session.h"
#include "session.h"
#include "sonara.h"

// The two properties every configuration must carry, and nothing else.
inline constexpr char kMinimalConfiguration[] =
    R"({ "signal_noise": { "value": 15 }, "overload_border": { "value": 0.5 } })";

// Sends libcommon's log to a temporary file while alive, at the given minimum level, and
// restores the default logger (level 3, standard error) afterwards.
class LogCapture {
public:
    explicit LogCapture(int level = LOG_DEBUG) : file_(std::tmpfile()) {
        log_init(level, file_, 0, 0);
    }
    ~LogCapture() {
        log_init(LOG_NOTICE, nullptr, 0, 0);
        if (file_ != nullptr) std::fclose(file_);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    FILE *file() const { return file_; }

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        if (file_ == nullptr) return result;
        std::fflush(file_);
        std::rewind(file_);
        std::string line;
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) {
            if (c == '\n') {
                result.push_back(line);
                line.clear();
            } else {
                line.push_back(static_cast<char>(c));
            }
        }
        if (!line.empty()) result.push_back(line);
        std::fseek(file_, 0, SEEK_END);
        return result;
    }

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

    int count(const std::string &message) const {
        int n = 0;
        for (const std::string &line : lines()) {
            if (line.find(message) != std::string::npos) ++n;
        }
        return n;
    }

    std::string text() const {
        std::string joined;
        for (const std::string &line : lines()) joined += line + "\n";
        return joined;
    }

private:
    FILE *file_;
};

// A live session created from configuration text; destroyed with the fixture.
class LiveSession {
public:
    explicit LiveSession(const char *configuration = kMinimalConfiguration) {
        created_ = v_create_session_from_memory(&session_, configuration);
    }
    ~LiveSession() {
        if (session_.payment != nullptr) v_destroy_session(&session_);
    }
    LiveSession(const LiveSession &) = delete;
    LiveSession &operator=(const LiveSession &) = delete;

    bool created() const { return created_; }
    Session &record() { return session_; }
    PrivateSession &payment() { return *session_.payment; }
    SessionValue &slot(ResultSlot which) { return session_.payment->results[which]; }

private:
    Session session_{};
    bool created_ = false;
};
