#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <dlfcn.h>

#include "libcommon.h"
#include "support/log_capture.h"

namespace {

using test_support::LogCapture;

void *const kPoison = reinterpret_cast<void *>(0x1);

// Fills every slot with a non-null value, so a test sees which slots the loader cleared.
void poison(SessionProxy &proxy) {
    auto **slots = reinterpret_cast<void **>(&proxy);
    for (size_t k = 0; k < sizeof proxy / sizeof(void *); ++k) slots[k] = kPoison;
}

size_t non_null_slots(const SessionProxy &proxy) {
    auto *const *slots = reinterpret_cast<void *const *>(&proxy);
    size_t count = 0;
    for (size_t k = 0; k < sizeof proxy / sizeof(void *); ++k) count += slots[k] != nullptr;
    return count;
}

void close_libraries(SessionProxy &proxy) {
    if (proxy.photo_library != nullptr) dlclose(proxy.photo_library);
    if (proxy.sound_library != nullptr) dlclose(proxy.sound_library);
}

TEST(SessionProxy, RecordHasTwentyPointerSlots) {
    EXPECT_EQ(sizeof(SessionProxy), 20 * sizeof(void *));
}

TEST(SessionProxy, FillsTheSlotsTheLibraryExports) {
    SessionProxy proxy;
    poison(proxy);
    ASSERT_TRUE(session_proxy_init(&proxy, PROXY_TEST_LIBRARY, PROXY_TEST_LIBRARY));
    EXPECT_NE(proxy.photo_library, nullptr);
    EXPECT_NE(proxy.sound_library, nullptr);
    ASSERT_NE(proxy.photo_create, nullptr);
    ASSERT_NE(proxy.photo_check, nullptr);
    ASSERT_NE(proxy.sound_configuration_version, nullptr);
    ASSERT_NE(proxy.sound_create_with_log, nullptr);
    EXPECT_EQ(non_null_slots(proxy), 6u);  // two handles and the four exported names

    // Each slot reaches the function of its own name.
    Session session{};
    EXPECT_TRUE(proxy.photo_create(&session, "x"));
    EXPECT_EQ(session.state, 120);
    const unsigned char content[3] = {1, 2, 3};
    EXPECT_TRUE(proxy.photo_check(&session, content, sizeof content));
    EXPECT_EQ(session.state, 3);
    EXPECT_TRUE(proxy.sound_create_with_log(&session, "x", 4, nullptr));
    EXPECT_EQ(session.state, 4);
    EXPECT_STREQ(proxy.sound_configuration_version(&session), "test-1");
    close_libraries(proxy);
}

TEST(SessionProxy, NullPathLeavesThatLibrarysSlotsNull) {
    SessionProxy proxy;
    poison(proxy);
    ASSERT_TRUE(session_proxy_init(&proxy, PROXY_TEST_LIBRARY, nullptr));
    EXPECT_EQ(proxy.sound_library, nullptr);
    EXPECT_EQ(proxy.sound_configuration_version, nullptr);
    EXPECT_EQ(proxy.sound_create_with_log, nullptr);
    EXPECT_EQ(non_null_slots(proxy), 3u);  // the photo handle, photo_create, photo_check
    close_libraries(proxy);

    poison(proxy);
    ASSERT_TRUE(session_proxy_init(&proxy, nullptr, nullptr));
    EXPECT_EQ(non_null_slots(proxy), 0u);
}

TEST(SessionProxy, UnloadableLibraryFailsWithTheLoaderReason) {
    struct Case {
        const char *what;
        const char *photo;
        const char *sound;
    };
    const Case cases[] = {
        {"missing photo library", "/nonexistent/libvisara.so", PROXY_TEST_LIBRARY},
        {"missing sound library after a good photo one", PROXY_TEST_LIBRARY, "/nonexistent/libsonara.so"},
        {"a file that is not a library", __FILE__, nullptr},
    };
    for (const Case &c : cases) {
        LogCapture capture(LOG_DEBUG);
        SessionProxy proxy;
        poison(proxy);
        EXPECT_FALSE(session_proxy_init(&proxy, c.photo, c.sound)) << c.what;
        EXPECT_EQ(non_null_slots(proxy), 0u) << c.what;
        const std::string log = capture.text();
        EXPECT_NE(log.find("ERROR proxy.cpp:"), std::string::npos) << c.what << "\n" << log;
        // dlerror's text names the file it could not load.
        const char *failed = std::strstr(c.what, "sound") != nullptr ? c.sound : c.photo;
        EXPECT_NE(log.find(std::string(failed) + ": " + failed), std::string::npos) << c.what << "\n" << log;
    }
    EXPECT_FALSE(session_proxy_init(nullptr, nullptr, nullptr));
}

}  // namespace
