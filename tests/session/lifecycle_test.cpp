// Session creation, destruction, the validity test and the getters.
#include <cstdlib>
#include <cstring>
#include <string>

#include "session_test_support.h"

namespace {

const std::string kFixtureDir = SESSION_FIXTURE_DIR;

bool version_block_is_zero(const Session &session) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(&session);
    for (size_t i = 0; i < SESSION_VERSION_BLOCK_SIZE; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

void expect_version_block_filled(const Session &session) {
    EXPECT_EQ(session.major, 1);
    EXPECT_EQ(session.minor, 2);
    EXPECT_EQ(session.patch, 5);
    EXPECT_STREQ(session.vendor, "kestro");
}

enum class Source { path, memory };

struct ExpectedLine {
    const char *level;
    const char *unit;
    std::string message;
};

struct CreationCase {
    const char *label;
    Source source;
    const char *text;  // null is passed as null
    int code;
    int32_t state;
    bool version_filled;
    std::vector<ExpectedLine> lines;  // must appear in this order
    const char *absent = nullptr;     // a message that must not appear
};

void PrintTo(const CreationCase &c, std::ostream *os) { *os << c.label; }

class Creation : public ::testing::TestWithParam<CreationCase> {};

TEST_P(Creation, ReturnsCodeStateAndLogsInOrder) {
    const CreationCase &c = GetParam();
    LogCapture log;
    Session session{};
    const int code = c.source == Source::path ? voice_session_init(&session, c.text)
                                              : voice_session_init_from_memory(&session, c.text);
    SCOPED_TRACE(log.text());
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(session.state, c.state);
    if (c.code == VOICE_SESSION_OK) {
        ASSERT_NE(session.payment, nullptr);
        expect_version_block_filled(session);
        EXPECT_TRUE(v_destroy_session(&session));
    } else {
        EXPECT_EQ(session.payment, nullptr);
        if (c.version_filled) {
            expect_version_block_filled(session);
        } else {
            EXPECT_TRUE(version_block_is_zero(session));
        }
    }
    int position = 0;
    for (const ExpectedLine &line : c.lines) {
        const int found = log.find(line.level, line.unit, line.message, position);
        EXPECT_GE(found, 0) << "missing or out of order: " << line.level << " " << line.unit
                            << " " << line.message;
        if (found >= 0) position = found + 1;
    }
    if (c.absent != nullptr) {
        EXPECT_EQ(log.count(c.absent), 0) << c.absent;
    }
}

const char kStarting[] = "Инициализация сессии по звуку";
const char kMissingProperty[] = "[config] Configuration to old or damaged. %s required but not configured";

std::string missing(const char *property) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, kMissingProperty, property);
    return buffer;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Creation,
    ::testing::Values(
        CreationCase{"null_path", Source::path, nullptr, 1, STATE_BAD_CONFIGURATION, false,
                     {{"INFO", "libsound.cpp", kStarting},
                      {"ERROR", "libsound.cpp", "Указатель на конфигурации указывает на null"}}},
        CreationCase{"null_text", Source::memory, nullptr, 1, STATE_BAD_CONFIGURATION, false,
                     {{"ERROR", "libsound.cpp", "Указатель на конфигурации указывает на null"}}},
        CreationCase{"empty_path", Source::path, "", 2, STATE_BAD_CONFIGURATION, false,
                     {{"INFO", "libsound.cpp", kStarting},
                      {"ERROR", "libsound.cpp", "Получено пустое название конфигураций"}}},
        CreationCase{"directory", Source::path, SESSION_FIXTURE_DIR, 0, STATE_OK, true,
                     {{"INFO", "libsound.cpp", kStarting},
                      {"INFO", "libsound.cpp",
                       std::string("Директория с конфигурациями ") + SESSION_FIXTURE_DIR}}},
        CreationCase{"directory_with_slash", Source::path, SESSION_FIXTURE_DIR "/", 0, STATE_OK,
                     true,
                     {{"INFO", "libsound.cpp",
                       std::string("Директория с конфигурациями ") + SESSION_FIXTURE_DIR "/"}}},
        CreationCase{"file", Source::path, SESSION_FIXTURE_DIR "/cv_configuration.json", 0,
                     STATE_OK, true, {{"INFO", "libsound.cpp", kStarting}},
                     "Директория с конфигурациями"},
        CreationCase{"missing_file", Source::path, SESSION_FIXTURE_DIR "/no_such_file.json", 6,
                     STATE_BAD_CONFIGURATION, true, {{"INFO", "libsound.cpp", kStarting}}},
        CreationCase{"directory_name_as_text", Source::memory, SESSION_FIXTURE_DIR, 6,
                     STATE_BAD_CONFIGURATION, true, {}, "Директория с конфигурациями"},
        CreationCase{"no_signal_noise", Source::memory, R"({"overload_border": {"value": 0.5}})",
                     6, STATE_BAD_CONFIGURATION, true,
                     {{"ERROR", "session_configuration.cpp", missing("signal_noise")}}},
        CreationCase{"no_overload_border", Source::memory, R"({"signal_noise": {"value": 15}})",
                     6, STATE_BAD_CONFIGURATION, true,
                     {{"ERROR", "session_configuration.cpp", missing("overload_border")}}},
        CreationCase{"neither_required", Source::memory, R"({"length": {"min": 1, "max": 2}})", 6,
                     STATE_BAD_CONFIGURATION, true,
                     {{"ERROR", "session_configuration.cpp", missing("signal_noise")}},
                     "overload_border required"},
        CreationCase{"required_but_disabled", Source::memory,
                     R"({"signal_noise": {"value": 15, "enable": false},
                         "overload_border": {"value": 0.5, "enable": false}})",
                     0, STATE_OK, true, {}}),
    [](const auto &info) { return std::string(info.param.label); });

TEST(Lifecycle, NullRecordIsRefusedEverywhere) {
    LogCapture log;
    EXPECT_EQ(voice_session_init(nullptr, kFixtureDir.c_str()), VOICE_SESSION_RECORD_NULL);
    const int starting = log.find("INFO", "libsound.cpp", kStarting);
    EXPECT_GE(starting, 0);
    EXPECT_GT(log.find("ERROR", "libsound.cpp", "Указатель на объект session указывает на null",
                       starting),
              starting);

    EXPECT_FALSE(v_create_session(nullptr, kFixtureDir.c_str()));
    EXPECT_FALSE(v_create_session_from_memory(nullptr, kMinimalConfiguration));
    EXPECT_EQ(check_valid_session(nullptr), VOICE_SESSION_RECORD_NULL);
    EXPECT_EQ(voice_session_destroy(nullptr), VOICE_SESSION_RECORD_NULL);
    EXPECT_FALSE(v_destroy_session(nullptr));
    EXPECT_FALSE(v_result_session(nullptr, nullptr));
    for (char *(*getter)(Session *) : {v_session_configuration_version, v_session_configuration_hash}) {
        char *text = getter(nullptr);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, "unknown");
        std::free(text);
    }
}

TEST(Lifecycle, LiveRecordAfterCreation) {
    Session session{};
    std::memset(session.vendor, 'x', sizeof session.vendor);
    std::memset(session.reserved_tail, 0x5a, sizeof session.reserved_tail);
    ASSERT_TRUE(v_create_session(&session, kFixtureDir.c_str()));
    EXPECT_EQ(session.state, STATE_OK);
    expect_version_block_filled(session);
    EXPECT_EQ(session.vendor[7], 'x') << "bytes after the vendor's terminator are not touched";

    char *version = v_session_configuration_version(&session);
    EXPECT_STREQ(version, "2026.12");
    EXPECT_EQ(v_session_configuration_version(&session), version) << "the session's own text";
    char *hash = v_session_configuration_hash(&session);
    EXPECT_EQ(std::strlen(hash), 64u);
    EXPECT_EQ(v_session_configuration_hash(&session), hash);

    SessionValue *first = nullptr;
    ASSERT_TRUE(v_result_session(&session, &first));
    SessionValue *again = nullptr;
    ASSERT_TRUE(v_result_session(&session, &again));
    EXPECT_EQ(first, again);
    EXPECT_TRUE(v_result_session(&session, nullptr));
    int slots = 0;
    for (const SessionValue *slot = first; slot != nullptr; slot = slot->next, ++slots) {
        EXPECT_EQ(slot->state, SESSION_VALUE_NOT_EVALUATED) << slot->name;
        EXPECT_EQ(slot->value, 0.0) << slot->name;
        EXPECT_EQ(slot->text, nullptr) << slot->name;
        EXPECT_TRUE(slot->enable) << slot->name;
    }
    EXPECT_EQ(slots, RESULT_SLOT_COUNT);
    EXPECT_EQ(session.state, STATE_OK) << "getters store nothing on success";

    ASSERT_TRUE(v_destroy_session(&session));
    EXPECT_EQ(session.reserved_tail[0], 0x5a) << "reserved bytes are not touched";
}

TEST(Lifecycle, VersionAndHashDefaultsAndLongVersion) {
    {
        LiveSession live;
        ASSERT_TRUE(live.created());
        EXPECT_STREQ(v_session_configuration_version(&live.record()), "unknown");
        EXPECT_EQ(std::strlen(v_session_configuration_hash(&live.record())), 64u);
    }
    {
        LiveSession live(R"({"version": "2026.12-release-candidate-7",
                             "signal_noise": {"value": 15}, "overload_border": {"value": 0.5}})");
        ASSERT_TRUE(live.created());
        EXPECT_STREQ(v_session_configuration_version(&live.record()), "2026.12-release-can");
    }
}

TEST(Lifecycle, BlankRecordGettersAnswerUnknownAndStore101) {
    LogCapture log;
    Session session{};
    session.state = 55;
    for (char *(*getter)(Session *) : {v_session_configuration_version, v_session_configuration_hash}) {
        session.state = 55;
        char *text = getter(&session);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, "unknown");
        EXPECT_EQ(session.state, STATE_BAD_SESSION);
        std::free(text);  // a fresh copy for an invalid record; ASan reports it if it was not
    }
    SessionValue sentinel{};
    SessionValue *out = &sentinel;
    EXPECT_FALSE(v_result_session(&session, &out));
    EXPECT_EQ(out, &sentinel) << "out is not written for an invalid record";
    EXPECT_GE(log.find("ERROR", "libsound.cpp", "Некорректная структура сессии, payment пустой"), 0);
}

TEST(Lifecycle, DestroyTwiceThenCreateAgain) {
    Session session{};
    ASSERT_TRUE(v_create_session(&session, kFixtureDir.c_str()));
    ASSERT_TRUE(v_dbg_set_property(&session, "processing_sound_name", "first.wav"));
    {
        LogCapture log;
        EXPECT_EQ(voice_session_destroy(&session), VOICE_SESSION_OK);
        const int destroying = log.find("INFO", "libsound.cpp", "Уничтожение сессии по звуку");
        EXPECT_GE(destroying, 0);
        EXPECT_GT(log.find("INFO", "libsound.cpp", "Освобождение payment", destroying), destroying);
        EXPECT_GE(log.find("INFO", "session_configuration.cpp",
                           "Освобождение ресурсов processing_output_sound"),
                  0);
    }
    EXPECT_EQ(session.state, STATE_OK);
    EXPECT_EQ(session.payment, nullptr);
    EXPECT_TRUE(version_block_is_zero(session));

    {
        LogCapture log;
        EXPECT_EQ(voice_session_destroy(&session), VOICE_SESSION_RECORD_DAMAGED);
        EXPECT_EQ(session.state, STATE_BAD_SESSION);
        const int destroying = log.find("INFO", "libsound.cpp", "Уничтожение сессии по звуку");
        EXPECT_GE(destroying, 0);
        EXPECT_GT(log.find("ERROR", "libsound.cpp", "Некорректная структура сессии, payment пустой",
                           destroying),
                  destroying);
        EXPECT_EQ(log.count("Освобождение payment"), 0);
    }
    EXPECT_FALSE(v_destroy_session(&session));

    ASSERT_TRUE(v_create_session_from_memory(&session, kMinimalConfiguration));
    EXPECT_EQ(session.state, STATE_OK);
    EXPECT_TRUE(v_destroy_session(&session));
}

TEST(Lifecycle, DamagedMagicIsRefusedAndNotReleased) {
    LiveSession live;
    ASSERT_TRUE(live.created());
    Session &session = live.record();
    live.payment().magic = 0x332211;

    LogCapture log;
    EXPECT_EQ(check_valid_session(&session), VOICE_SESSION_RECORD_DAMAGED);
    EXPECT_GE(log.find("ERROR", "libsound.cpp", "Некорректная структура сессии"), 0);
    EXPECT_EQ(log.count("payment пустой"), 0);

    session.state = STATE_OK;
    EXPECT_EQ(voice_session_destroy(&session), VOICE_SESSION_RECORD_DAMAGED);
    EXPECT_EQ(session.state, STATE_BAD_SESSION);
    EXPECT_NE(session.payment, nullptr) << "a damaged object is not released";
    EXPECT_EQ(session.major, 1) << "nor is the version block cleared";

    session.state = STATE_OK;
    EXPECT_FALSE(v_result_session(&session, nullptr));
    EXPECT_EQ(session.state, STATE_BAD_SESSION);
    session.state = STATE_OK;
    EXPECT_FALSE(v_enable_property(&session, "duration", false));
    EXPECT_EQ(session.state, STATE_BAD_SESSION);
    session.state = STATE_OK;
    EXPECT_FALSE(v_dbg_set_property(&session, "processing_sound_name", "x.wav"));
    EXPECT_EQ(session.state, STATE_BAD_SESSION);
    char *version = v_session_configuration_version(&session);
    EXPECT_STREQ(version, "unknown");
    EXPECT_NE(version, live.payment().version);
    std::free(version);

    live.payment().magic = PRIVATE_SESSION_MAGIC;  // repaired so the fixture can release it
}

TEST(Lifecycle, CreateWithLogPassesLevelAndTargetToTheLogger) {
    std::FILE *target = std::tmpfile();
    ASSERT_NE(target, nullptr);
    Session session{};
    // Level 5: the level-2 start line is filtered out, the level-5 refusal is written.
    EXPECT_FALSE(v_create_session_with_log(&session, nullptr, LOG_ERROR, target));
    EXPECT_EQ(session.state, STATE_BAD_CONFIGURATION);
    // Level 1: everything is written, to the same target.
    EXPECT_TRUE(v_create_session_with_log(&session, kFixtureDir.c_str(), LOG_DEBUG, target));
    EXPECT_TRUE(v_destroy_session(&session));
    log_init(LOG_NOTICE, nullptr, 0, 0);

    std::fflush(target);
    std::rewind(target);
    std::string text;
    for (int c = std::fgetc(target); c != EOF; c = std::fgetc(target)) text.push_back(static_cast<char>(c));
    std::fclose(target);

    const size_t refusal = text.find("ERROR libsound.cpp:");
    ASSERT_NE(refusal, std::string::npos) << text;
    EXPECT_NE(text.find("Указатель на конфигурации указывает на null"), std::string::npos);
    const size_t first_start = text.find(kStarting);
    ASSERT_NE(first_start, std::string::npos) << text;
    EXPECT_GT(first_start, refusal) << "the first creation ran at level 5:\n" << text;
    EXPECT_NE(text.find("Директория с конфигурациями"), std::string::npos);
}

}  // namespace
