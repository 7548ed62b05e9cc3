#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "libcommon.h"
#include "support/log_capture.h"

namespace {

using test_support::LogCapture;

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(Log, LineFormatNamesLevelBaseNameAndLine) {
    struct Case {
        int level;
        const char *expected;
    };
    const Case cases[] = {
        {LOG_DEBUG, "DEBUG unit.cpp:7: value 42 and text\n"},
        {LOG_INFO, "INFO unit.cpp:7: value 42 and text\n"},
        {LOG_NOTICE, "NOTICE unit.cpp:7: value 42 and text\n"},
        {LOG_WARN, "WARN unit.cpp:7: value 42 and text\n"},
        {LOG_ERROR, "ERROR unit.cpp:7: value 42 and text\n"},
    };
    for (const Case &c : cases) {
        LogCapture capture(LOG_DEBUG);
        log_log(c.level, "/some/deep/path/unit.cpp", 7, "value %d and %s", 42, "text");
        EXPECT_EQ(capture.text(), c.expected) << "level " << c.level;
    }
}

TEST(Log, MacroPassesThisSourceFile) {
    LogCapture capture(LOG_DEBUG);
    const int line = __LINE__ + 1;
    LOG(LOG_INFO, "Сессия создана");
    EXPECT_EQ(capture.text(), "INFO log_test.cpp:" + std::to_string(line) + ": Сессия создана\n");
}

TEST(Log, MinimumLevelFiltersLowerLevels) {
    for (int minimum = LOG_DEBUG; minimum <= LOG_ERROR; ++minimum) {
        LogCapture capture(minimum);
        for (int level = LOG_DEBUG; level <= LOG_ERROR; ++level) log_log(level, "f.c", level, "x");
        const auto lines = lines_of(capture.text());
        ASSERT_EQ(lines.size(), static_cast<size_t>(LOG_ERROR - minimum + 1)) << "minimum " << minimum;
        EXPECT_EQ(lines.front().substr(lines.front().find(':') + 1), std::to_string(minimum) + ": x");
    }
}

TEST(Log, BeforeInitWritesNoticeAndAboveToStandardError) {
    // A separate process, since this one has already configured the logger.
    FILE *child = popen(LOG_DEFAULT_PROBE " 2>&1 1>/dev/null", "r");
    ASSERT_NE(child, nullptr);
    std::string output;
    char chunk[256];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, child)) > 0;) output.append(chunk, got);
    ASSERT_EQ(pclose(child), 0);
    EXPECT_EQ(output, "NOTICE log_default_probe.cpp:9: notice\nERROR log_default_probe.cpp:10: error\n");
}

TEST(Log, LongMessageIsWrittenWhole) {
    LogCapture capture(LOG_DEBUG);
    const std::string long_text(70000, 'z');
    log_log(LOG_WARN, "f.c", 3, "<%s>", long_text.c_str());
    EXPECT_EQ(capture.text(), "WARN f.c:3: <" + long_text + ">\n");
}

TEST(Log, ConcurrentWritersProduceWholeLines) {
    LogCapture capture(LOG_DEBUG);
    constexpr int kThreads = 8;
    constexpr int kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            // A payload longer than the writer's stack buffer exercises the heap path as well.
            const std::string payload(t % 2 == 0 ? 40 : 1500, static_cast<char>('a' + t));
            for (int k = 0; k < kLines; ++k) log_log(LOG_INFO, "mt.c", t, "%d %s", k, payload.c_str());
        });
    }
    for (auto &thread : threads) thread.join();

    const auto lines = lines_of(capture.text());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::set<std::string> seen;
    for (const auto &line : lines) {
        // "INFO mt.c:<thread>: <k> <payload of one letter>"
        ASSERT_EQ(line.rfind("INFO mt.c:", 0), 0u) << line.substr(0, 80);
        const int thread = line[10] - '0';
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << line.substr(0, 80);
        const size_t space = line.find(' ', 13);
        ASSERT_NE(space, std::string::npos) << line.substr(0, 80);
        const std::string payload = line.substr(space + 1);
        EXPECT_EQ(payload, std::string(thread % 2 == 0 ? 40 : 1500, static_cast<char>('a' + thread)))
            << line.substr(0, 80);
        seen.insert(line.substr(0, space));
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}

TEST(LogText, EscapesControlsAndCutsAtTheLimit) {
    const std::string a199(199, 'a');
    const std::string a200(200, 'a');
    const std::string cut = LOG_TEXT_CUT_MARK;
    struct Case {
        const char *what;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"plain", "duration", "duration"},
        {"line breaks and tab", "a\nb\r\tc", "a\\nb\\r\\tc"},
        {"other C0 controls and DEL", "\x01\x1b[31m\x7f", "\\x01\\x1b[31m\\x7f"},
        {"backslash doubled, so an escape can't be faked", "a\\nb", "a\\\\nb"},
        {"C1 control", "x\xc2\x85y", "x\\u0085y"},
        {"UTF-8 kept", "длина €", "длина €"},
        {"bytes outside UTF-8", "\xff\xc0\xd0", "\\xff\\xc0\\xd0"},
        {"exactly at the limit", a200, a200},
        {"one byte over", a200 + "b", a200 + cut},
        {"an escape is not split", a199 + "\n", a199 + cut},
        {"a character is not split", a199 + "д", a199 + cut},
        {"a character fits the last two bytes", std::string(198, 'a') + "д", std::string(198, 'a') + "д"},
        {"escapes fill the limit", std::string(50, '\x01'), [] {
             std::string all;
             for (int k = 0; k < 50; ++k) all += "\\x01";
             return all;
         }()},
    };
    for (const Case &c : cases) {
        LogText buffer;
        const char *written = log_text(&buffer, c.text.c_str());
        EXPECT_EQ(written, buffer.text) << c.what;
        EXPECT_EQ(std::string(written), c.expected) << c.what;
    }
    LogText buffer;
    EXPECT_STREQ(log_text(&buffer, nullptr), "(null)");
}

TEST(LogText, KeepsOneLogCallOneLine) {
    LogCapture capture(LOG_DEBUG);
    LogText safe;
    const std::string hostile = "x\nERROR forged.cpp:1: " + std::string(100000, 'y');
    LOG(LOG_ERROR, "name '%s'", log_text(&safe, hostile.c_str()));
    const auto lines = lines_of(capture.text());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_LT(lines[0].size(), 300u);
    EXPECT_NE(lines[0].find("'x\\nERROR forged.cpp:1: yyy"), std::string::npos) << lines[0];
}

}  // namespace
