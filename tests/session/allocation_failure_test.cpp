// Creation when the private object can't be allocated: a clear code, nothing thrown, nothing
// leaked. The non-throwing operator new of this test program fails on request.
#include <atomic>
#include <new>

#include "session_test_support.h"

namespace {
std::atomic<bool> g_fail_nothrow_new{false};
}  // namespace

void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    if (g_fail_nothrow_new.load()) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void *pointer, const std::nothrow_t &) noexcept { ::operator delete(pointer); }

namespace {

TEST(AllocationFailure, CreationOutOfMemoryAnswers6WithState102) {
    LogCapture log;
    Session session{};
    g_fail_nothrow_new = true;
    const int code = voice_session_init_from_memory(&session, kMinimalConfiguration);
    const bool created = v_create_session(&session, SESSION_FIXTURE_DIR);
    g_fail_nothrow_new = false;

    EXPECT_EQ(code, VOICE_SESSION_CONFIGURATION_NOT_READ);
    EXPECT_FALSE(created);
    EXPECT_EQ(session.state, STATE_BAD_CONFIGURATION);
    EXPECT_EQ(session.payment, nullptr);
    EXPECT_GE(log.find("ERROR", "libsound.cpp", ""), 0) << "the refusal is logged";

    // The same record works once memory is back.
    ASSERT_TRUE(v_create_session_from_memory(&session, kMinimalConfiguration));
    EXPECT_TRUE(v_destroy_session(&session));
}

}  // namespace
