// The check as the pipeline composes it from the standalone measurements, call by call, beside
// v_check: both run on one session, and everything a caller or the log can see is compared.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "composed_check.h"
#include "libcommon.h"
#include "sonara.h"
#include "support/log_capture.h"
#include "support/memory_reader.h"

namespace differential {

using Bytes = std::vector<unsigned char>;

using test_support::LogCapture;

struct Slot {
    std::string name;
    bool enable;
    int32_t state;
    uint64_t value_bits;  // doubles compared by bit pattern: NaN payloads and -0.0 included
    bool has_text;
    std::string text;

    bool operator==(const Slot &) const = default;
};

struct Outcome {
    bool result = false;
    int32_t state = -1;
    std::vector<Slot> slots;
    std::string log;
};

inline std::vector<Slot> slots_of(Session &session) {
    std::vector<Slot> slots;
    SessionValue *first = nullptr;
    if (!v_result_session(&session, &first)) return slots;
    for (const SessionValue *value = first; value != nullptr; value = value->next) {
        Slot slot{value->name != nullptr ? value->name : "", value->enable, value->state, 0,
                  value->text != nullptr, value->text != nullptr ? value->text : ""};
        std::memcpy(&slot.value_bits, &value->value, sizeof slot.value_bits);
        slots.push_back(slot);
    }
    return slots;
}

inline Outcome literal_check(Session &session, const Bytes &content) {
    Outcome outcome;
    {
        LogCapture log;
        session.state = STATE_OK;
        outcome.state = compose(*session.payment, content.data(), content.size());
        session.state = outcome.state;
        outcome.result = outcome.state == STATE_OK;
        outcome.log = log.text();
    }
    outcome.slots = slots_of(session);
    return outcome;
}

inline Outcome fast_check(Session &session, const Bytes &content) {
    Outcome outcome;
    {
        LogCapture log;
        outcome.result = v_check(&session, content.data(), content.size());
        outcome.log = log.text();
    }
    outcome.state = session.state;
    outcome.slots = slots_of(session);
    return outcome;
}

// v_check_reader (as v_check) over the same bytes, served in pieces.
inline Outcome reader_check(Session &session, const Bytes &content) {
    Outcome outcome;
    test_support::MemoryReader reader(content);
    {
        LogCapture log;
        outcome.result = v_check_reader(&session, reader.get(), false);
        outcome.log = log.text();
    }
    EXPECT_EQ(reader.get()->error, 0);
    outcome.state = session.state;
    outcome.slots = slots_of(session);
    return outcome;
}

inline std::string describe(const std::vector<Slot> &slots) {
    std::ostringstream out;
    for (const Slot &slot : slots) {
        double value;
        std::memcpy(&value, &slot.value_bits, sizeof value);
        out << "  " << slot.name << " enable=" << slot.enable << " state=" << slot.state
            << " value=" << value << " (0x" << std::hex << slot.value_bits << std::dec << ")"
            << (slot.has_text ? " text=" + slot.text : std::string()) << "\n";
    }
    return out.str();
}

// Runs the composed check, v_check and v_check_reader on session and expects them
// indistinguishable; returns the v_check outcome.
inline Outcome expect_same(Session &session, const Bytes &content, const std::string &label) {
    const Outcome literal = literal_check(session, content);
    const Outcome streamed = reader_check(session, content);
    const Outcome fast = fast_check(session, content);
    EXPECT_EQ(streamed.result, fast.result) << label;
    EXPECT_EQ(streamed.state, fast.state) << label;
    EXPECT_TRUE(streamed.slots == fast.slots)
        << label << "\nv_check:\n" << describe(fast.slots) << "v_check_reader:\n" << describe(streamed.slots);
    EXPECT_EQ(streamed.log, fast.log) << label << " (v_check_reader)";
    EXPECT_EQ(fast.result, literal.result) << label;
    EXPECT_EQ(fast.state, literal.state) << label;
    EXPECT_TRUE(fast.slots == literal.slots)
        << label << "\nv_check:\n" << describe(fast.slots) << "composed:\n" << describe(literal.slots);
    EXPECT_EQ(fast.log, literal.log) << label;
    return fast;
}

// A live session from configuration text; destroyed with the object.
class ScopedSession {
public:
    explicit ScopedSession(const std::string &configuration) {
        std::memset(&session_, 0, sizeof session_);
        created_ = v_create_session_from_memory(&session_, configuration.c_str());
    }
    ~ScopedSession() {
        if (created_) v_destroy_session(&session_);
    }
    ScopedSession(const ScopedSession &) = delete;
    ScopedSession &operator=(const ScopedSession &) = delete;

    bool created() const { return created_; }
    Session &get() { return session_; }
    PrivateSession &payment() { return *session_.payment; }

private:
    Session session_;
    bool created_ = false;
};

}  // namespace differential
