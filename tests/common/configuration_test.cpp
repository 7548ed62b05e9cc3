#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "libcommon.h"
#include "support/log_capture.h"

namespace {

using test_support::LogCapture;

// Records every callback as one text, in call order.
struct Recorder {
    std::vector<std::string> events;
    std::string hash;
    int range_answer = 0;
    std::string refuse_name;  // the range entry answered with -1

    static std::string flag(bool enable) { return enable ? "on" : "off"; }
    static std::string num(double d) {
        char text[64];
        std::snprintf(text, sizeof text, "%.17g", d);
        return text;
    }

    ConfigurationCallbacks callbacks() {
        ConfigurationCallbacks c{};
        c.number = [](void *user, const char *name, int i, double d, bool enable) {
            static_cast<Recorder *>(user)->events.push_back("number " + std::string(name) + " " +
                                                            std::to_string(i) + " " + num(d) + " " + flag(enable));
        };
        c.range = [](void *user, const char *name, int i_min, double d_min, int i_max, double d_max,
                     bool enable) -> int {
            auto *self = static_cast<Recorder *>(user);
            self->events.push_back("range " + std::string(name) + " " + std::to_string(i_min) + " " + num(d_min) +
                                   " " + std::to_string(i_max) + " " + num(d_max) + " " + flag(enable));
            return self->refuse_name == name ? -1 : 0;
        };
        c.object = [](void *user, const char *name) {
            static_cast<Recorder *>(user)->events.push_back("object " + std::string(name));
        };
        c.version = [](void *user, const char *version) {
            static_cast<Recorder *>(user)->events.push_back("version " + std::string(version));
        };
        c.hash = [](void *user, const char *hash, size_t length) {
            auto *self = static_cast<Recorder *>(user);
            self->events.push_back("hash " + std::to_string(length));
            self->hash = hash;
        };
        c.user = this;
        return c;
    }
};

using Events = std::vector<std::string>;

struct ShapeCase {
    const char *what;
    const char *text;
    Events expected;  // the hash event ends every successful walk
};

TEST(ConfigurationRead, ReportsMembersInDocumentOrder) {
    const ShapeCase cases[] = {
        {"the default configuration's shapes",
         R"({"version": "2026.12", "length": {"min": 1, "max": 20480}, "telephony_border": {"value": 10},
             "overload_border": {"value": 0.5}, "duration": {"min": 2, "max": 600}})",
         {"version 2026.12", "range length 1 1 20480 20480 on", "number telephony_border 10 10 on",
          "number overload_border 0 0.5 on", "range duration 2 2 600 600 on", "hash 64"}},
        {"a repeated member once per occurrence, the later last",
         R"({"duration": {"min": 1, "max": 2}, "version": "a", "duration": {"min": 3, "max": 4}, "version": "b"})",
         {"range duration 1 1 2 2 on", "version a", "range duration 3 3 4 4 on", "version b", "hash 64"}},
        {"enable absent, false, true, and before the numbers",
         R"({"a": {"value": 1}, "b": {"value": 1, "enable": false}, "c": {"min": 1, "max": 2, "enable": true},
             "d": {"enable": false, "min": 5, "max": 6}})",
         {"number a 1 1 on", "number b 1 1 off", "range c 1 1 2 2 on", "range d 5 5 6 6 off", "hash 64"}},
        {"int form truncated toward zero and saturated",
         R"({"big": {"value": 3e9}, "small": {"value": -3e9}, "up": {"value": 2.9}, "down": {"value": -2.9},
             "ubig": {"value": 3000000000}, "ibig": {"value": -3000000000}, "huge": {"min": -1e300, "max": 1e300}})",
         {"number big 2147483647 3000000000 on", "number small -2147483648 -3000000000 on",
          "number up 2 2.8999999999999999 on", "number down -2 -2.8999999999999999 on",
          "number ubig 2147483647 3000000000 on", "number ibig -2147483648 -3000000000 on",
          "range huge -2147483648 -1.0000000000000001e+300 2147483647 1.0000000000000001e+300 on", "hash 64"}},
        {"min, max and value together make a range",
         R"({"mixed": {"value": 7, "min": 1, "max": 9}})", {"range mixed 1 1 9 9 on", "hash 64"}},
        {"other members inside an entry are ignored, however shaped",
         R"({"d": {"min": 1, "note": "x", "max": 2, "extra": {"min": "bad", "enable": 3}, "list": [1, "y"]}})",
         {"range d 1 1 2 2 on", "hash 64"}},
        {"objects without min, max or value go to the object callback unwalked",
         R"({"photo": {"width": {"min": "bad"}, "enable": "yes"}, "deep": {"a": [1, {"value": []}]}, "empty": {}})",
         {"object photo", "object deep", "object empty", "hash 64"}},
        {"bare numbers, arrays, other strings, null, booleans and a non-text version are skipped",
         R"({"n": 5, "list": [{"min": 1, "max": 2}], "s": "text", "z": null, "t": true, "version": 3,
             "version": {"min": "x"}, "after": {"value": 1}})",
         {"number after 1 1 on", "hash 64"}},
        {"an empty object", "{}", {"hash 64"}},
    };
    LogCapture quiet(LOG_ERROR);  // the skipped members' notices are checked below
    for (const ShapeCase &c : cases) {
        Recorder recorder;
        const ConfigurationCallbacks callbacks = recorder.callbacks();
        EXPECT_TRUE(configuration_read_memory(c.text, &callbacks)) << c.what;
        EXPECT_EQ(recorder.events, c.expected) << c.what;
    }
    EXPECT_EQ(quiet.text(), "");  // an accepted configuration logs no error
}

TEST(ConfigurationRead, IgnoredMembersAreNamedAtNotice) {
    LogCapture capture(LOG_DEBUG);
    Recorder recorder;
    const ConfigurationCallbacks callbacks = recorder.callbacks();
    ASSERT_TRUE(configuration_read_memory(R"({"bare": 5, "list": [], "note": "x", "version": 1})", &callbacks));
    const std::string log = capture.text();
    EXPECT_NE(log.find("NOTICE configuration.cpp:"), std::string::npos) << log;
    for (const char *name : {"bare", "list", "note", "version"}) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "..." + std::string.
        const std::string notice = std::string("\"").append(name).append("\" ignored");
        EXPECT_NE(log.find(notice), std::string::npos) << name << "\n" << log;
    }
}

TEST(ConfigurationRead, HashIsSha256OfTheExactBytes) {
    // Golden values from sha256sum over the same bytes.
    struct Case {
        const char *text;
        const char *sha256;
    };
    const Case cases[] = {
        {R"({"version": "2026.12"})", "d9cf5a2da58381229c0a80a738243f3d4779a48a20cb5b4eb3fa86c5d3743c69"},
        {"{}", "44136fa355b3678a1146ad16f7e8649e94fb4fc21fe77e8310c060f61caaff8a"},
    };
    for (const Case &c : cases) {
        Recorder recorder;
        const ConfigurationCallbacks callbacks = recorder.callbacks();
        ASSERT_TRUE(configuration_read_memory(c.text, &callbacks));
        EXPECT_EQ(recorder.hash, c.sha256) << c.text;
    }
}

TEST(ConfigurationRead, FileAndTextGiveTheSameReport) {
    const std::string text = "{\n  \"version\": \"2026.12\",\n  \"duration\": { \"min\": 2, \"max\": 600 }\n}\n";
    const auto path = std::filesystem::temp_directory_path() / ("common_config_" + std::to_string(getpid()) + ".json");
    std::ofstream(path) << text;

    Recorder from_file;
    Recorder from_text;
    const ConfigurationCallbacks file_callbacks = from_file.callbacks();
    const ConfigurationCallbacks text_callbacks = from_text.callbacks();
    EXPECT_TRUE(configuration_read_file(path.c_str(), &file_callbacks));
    EXPECT_TRUE(configuration_read_memory(text.c_str(), &text_callbacks));
    std::filesystem::remove(path);

    EXPECT_EQ(from_file.events, (Events{"version 2026.12", "range duration 2 2 600 600 on", "hash 64"}));
    EXPECT_EQ(from_file.events, from_text.events);
    EXPECT_EQ(from_file.hash, from_text.hash);
    EXPECT_EQ(from_file.hash.size(), 64u);
}

TEST(ConfigurationRead, NullCallbacksAreSkipped) {
    ConfigurationCallbacks none{};
    EXPECT_TRUE(configuration_read_memory(
        R"({"version": "1", "a": {"value": 1}, "b": {"min": 1, "max": 2}, "c": {}})", &none));
}

struct RefusalCase {
    const char *what;
    const char *text;
    const char *message;  // part of the level-5 line
    Events before;        // what was reported before the walk stopped
};

TEST(ConfigurationRead, RefusesWithAReason) {
    const RefusalCase cases[] = {
        {"empty text", "", "syntax error at line 1, column 0", {}},
        {"syntax error on the third line", "{\n  \"a\": {\"value\": 1},\n  \"b\": {\"min\": }\n}",
         "syntax error at line 3, column 16: syntax error while parsing value", {"number a 1 1 on"}},
        {"trailing text", "{} x", "syntax error at line 1, column 4", {}},
        {"number out of range", "{\"a\": {\"value\": 1e400}}", "syntax error at line 1, column 21: number overflow", {}},
        {"top level array", "[1, 2]", "top level must be a JSON object", {}},
        {"top level number", "42", "top level must be a JSON object", {}},
        {"top level string", "\"x\"", "top level must be a JSON object", {}},
        {"min as text", R"({"duration": {"min": "1", "max": 2}})", "duration.min must be a number", {}},
        {"max as boolean", R"({"duration": {"min": 1, "max": true}})", "duration.max must be a number", {}},
        {"value as null", R"({"a": {"value": 1}, "border": {"value": null}})", "border.value must be a number",
         {"number a 1 1 on"}},
        {"value as object", R"({"border": {"value": {"x": 1}}})", "border.value must be a number", {}},
        {"min as array", R"({"duration": {"min": [1], "max": 2}})", "duration.min must be a number", {}},
        {"enable as text", R"({"duration": {"min": 1, "max": 2, "enable": "yes"}})",
         "duration.enable must be a boolean", {}},
        {"enable as number before the numbers", R"({"border": {"enable": 1, "value": 3}})",
         "border.enable must be a boolean", {}},
        {"min without max", R"({"duration": {"min": 1}})", "duration has \"min\" without \"max\"", {}},
        {"max without min, beside a value", R"({"duration": {"value": 1, "max": 3}})",
         "duration has \"max\" without \"min\"", {}},
    };
    for (const RefusalCase &c : cases) {
        LogCapture capture(LOG_DEBUG);
        Recorder recorder;
        const ConfigurationCallbacks callbacks = recorder.callbacks();
        EXPECT_FALSE(configuration_read_memory(c.text, &callbacks)) << c.what;
        EXPECT_EQ(recorder.events, c.before) << c.what;  // no hash either
        const std::string log = capture.text();
        EXPECT_NE(log.find("ERROR configuration.cpp:"), std::string::npos) << c.what << "\n" << log;
        EXPECT_NE(log.find(c.message), std::string::npos) << c.what << "\n" << log;
    }
}

TEST(ConfigurationRead, RangeAnsweringMinusOneStopsTheWalk) {
    LogCapture capture(LOG_DEBUG);
    Recorder recorder;
    recorder.refuse_name = "duration";
    const ConfigurationCallbacks callbacks = recorder.callbacks();
    EXPECT_FALSE(configuration_read_memory(
        R"({"length": {"min": 1, "max": 2}, "duration": {"min": 10, "max": 5}, "version": "late"})", &callbacks));
    EXPECT_EQ(recorder.events, (Events{"range length 1 1 2 2 on", "range duration 10 10 5 5 on"}));
    EXPECT_NE(capture.text().find("ERROR configuration.cpp:"), std::string::npos);
    EXPECT_NE(capture.text().find("duration"), std::string::npos);
}

TEST(ConfigurationRead, RefusesUnusableArguments) {
    const auto directory = std::filesystem::temp_directory_path();
    const std::string missing = (directory / "common_config_missing_file.json").string();
    struct Case {
        const char *what;
        bool from_file;
        const char *source;
        bool null_callbacks;
        const char *message;
    };
    const Case cases[] = {
        {"null path", true, nullptr, false, "null path"},
        {"null text", false, nullptr, false, "null text"},
        {"missing file", true, missing.c_str(), false, "No such file or directory"},
        {"directory", true, directory.c_str(), false, "Is a directory"},
        {"null callbacks record", false, "{}", true, "null callbacks"},
    };
    for (const Case &c : cases) {
        LogCapture capture(LOG_DEBUG);
        Recorder recorder;
        const ConfigurationCallbacks callbacks = recorder.callbacks();
        const ConfigurationCallbacks *record = c.null_callbacks ? nullptr : &callbacks;
        const bool read = c.from_file ? configuration_read_file(c.source, record)
                                      : configuration_read_memory(c.source, record);
        EXPECT_FALSE(read) << c.what;
        EXPECT_TRUE(recorder.events.empty()) << c.what;
        const std::string log = capture.text();
        EXPECT_NE(log.find("ERROR "), std::string::npos) << c.what << "\n" << log;
        EXPECT_NE(log.find(c.message), std::string::npos) << c.what << "\n" << log;
    }
}

TEST(ConfigurationRead, DeepNestingIsRefusedOrSkippedWithoutCrashing) {
    // The parser is not recursive; a deep object member is skipped, a deep top-level array refused.
    const std::string deep_member = "{\"x\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
    const std::string deep_array = std::string(100000, '[') + std::string(100000, ']');
    ConfigurationCallbacks none{};
    EXPECT_TRUE(configuration_read_memory(deep_member.c_str(), &none));
    EXPECT_FALSE(configuration_read_memory(deep_array.c_str(), &none));
}

// A temporary file holding exactly the given bytes, removed with the object.
class BytesFile {
public:
    explicit BytesFile(const std::string &bytes)
        : path_(std::filesystem::temp_directory_path() /
                ("common_config_bytes_" + std::to_string(getpid()) + ".json")) {
        std::ofstream(path_, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ~BytesFile() { std::filesystem::remove(path_); }
    const char *path() const { return path_.c_str(); }

private:
    std::filesystem::path path_;
};

struct Reading {
    bool accepted;
    Events events;
    std::string hash;
    std::string log;
};

Reading read_file_bytes(const std::string &bytes) {
    BytesFile file(bytes);
    LogCapture capture(LOG_DEBUG);
    Recorder recorder;
    const ConfigurationCallbacks callbacks = recorder.callbacks();
    const bool accepted = configuration_read_file(file.path(), &callbacks);
    return {accepted, recorder.events, recorder.hash, capture.text()};
}

Reading read_memory_text(const char *text) {
    LogCapture capture(LOG_DEBUG);
    Recorder recorder;
    const ConfigurationCallbacks callbacks = recorder.callbacks();
    const bool accepted = configuration_read_memory(text, &callbacks);
    return {accepted, recorder.events, recorder.hash, capture.text()};
}

TEST(ConfigurationRead, OnlyWhitespaceMayFollowTheValue) {
    using namespace std::string_literals;
    struct Case {
        const char *what;
        std::string bytes;
        const char *refusal;  // part of the level-5 line; null when the text is accepted
    };
    const Case cases[] = {
        {"whitespace of every kind", "{\"a\": {\"value\": 1}} \n\t\r\n"s, nullptr},
        {"garbage", "{} x"s, "content after the JSON value at byte offset 3"},
        {"a second object", "{}{}"s, "content after the JSON value at byte offset 2"},
        {"a second object on the next line", "{\"a\": {\"value\": 1}}\n{}"s,
         "content after the JSON value at byte offset 20"},
        {"a closing brace too many", "{} }"s, "content after the JSON value at byte offset 3"},
        {"a NUL byte", "{}\0"s, "a NUL byte at byte offset 2"},
        {"a NUL byte, then an object", "{}\0{\"a\": {\"value\": 1}}"s, "a NUL byte at byte offset 2"},
        {"a NUL byte inside trailing whitespace", "{}  \0  "s, "a NUL byte at byte offset 4"},
        {"a NUL byte inside the value", "{\"a\": {\"value\": 1}\0}"s, "a NUL byte at byte offset 18"},
        {"many NUL bytes", "{}"s + std::string(1 << 16, '\0'), "a NUL byte at byte offset 2"},
    };
    for (const Case &c : cases) {
        const Reading file = read_file_bytes(c.bytes);
        // From memory the text ends at its first NUL byte, the C string's end.
        const std::string text = c.bytes.substr(0, c.bytes.find('\0'));
        const Reading memory = read_memory_text(text.c_str());
        const bool nul = text.size() != c.bytes.size();
        if (c.refusal == nullptr) {
            EXPECT_TRUE(file.accepted) << c.what << "\n" << file.log;
            EXPECT_EQ(file.events, memory.events) << c.what;
            EXPECT_EQ(file.hash, memory.hash) << c.what;
            EXPECT_EQ(file.log, "") << c.what;
            continue;
        }
        EXPECT_FALSE(file.accepted) << c.what;
        EXPECT_NE(file.log.find("ERROR configuration.cpp:"), std::string::npos) << c.what << "\n" << file.log;
        EXPECT_NE(file.log.find(c.refusal), std::string::npos) << c.what << "\n" << file.log;
        EXPECT_EQ(file.hash, "") << c.what;
        if (!nul) {
            // The same bytes from memory get the same answer.
            EXPECT_FALSE(memory.accepted) << c.what;
            EXPECT_EQ(memory.log, file.log) << c.what;
        } else {
            // Memory holds only the bytes before the NUL: read as the file of those bytes.
            const Reading prefix = read_file_bytes(text);
            EXPECT_EQ(memory.accepted, prefix.accepted) << c.what;
            EXPECT_EQ(memory.hash, prefix.hash) << c.what;
            EXPECT_EQ(memory.events, prefix.events) << c.what;
        }
    }
}

TEST(ConfigurationRead, FileHashCoversEveryByteRead) {
    // Trailing whitespace is part of the text: it changes the hash, the same from file and memory.
    const Reading bare = read_file_bytes("{}");
    const Reading spaced = read_file_bytes("{}\n\n");
    const Reading spaced_memory = read_memory_text("{}\n\n");
    ASSERT_TRUE(bare.accepted && spaced.accepted && spaced_memory.accepted);
    EXPECT_EQ(bare.hash, "44136fa355b3678a1146ad16f7e8649e94fb4fc21fe77e8310c060f61caaff8a");
    EXPECT_NE(spaced.hash, bare.hash);
    EXPECT_EQ(spaced.hash, spaced_memory.hash);
}

TEST(ConfigurationRead, NamesInLogLinesCannotForgeLines) {
    struct Case {
        const char *what;
        const char *text;
        const char *expected;  // the escaped name in the one line written
    };
    const Case cases[] = {
        {"ignored member", R"({"a\nERROR forged.cpp:1: b": 5})", "\"a\\nERROR forged.cpp:1: b\" ignored"},
        {"wrong type", R"({"d\r\nx": {"min": "1", "max": 2}})", "d\\r\\nx.min must be a number"},
        {"half range", R"({"d\u001b[2K": {"min": 1}})", "d\\x1b[2K has \"min\" without \"max\""},
    };
    for (const Case &c : cases) {
        const Reading reading = read_memory_text(c.text);
        const std::vector<std::string> lines = [&] {
            std::vector<std::string> all;
            std::istringstream in(reading.log);
            for (std::string line; std::getline(in, line);) all.push_back(line);
            return all;
        }();
        ASSERT_EQ(lines.size(), 1u) << c.what << "\n" << reading.log;
        EXPECT_NE(lines[0].find(c.expected), std::string::npos) << c.what << "\n" << reading.log;
    }
}

TEST(ConfigurationRead, HugeNameGivesABoundedLine) {
    const std::string name(1 << 20, 'k');
    for (const std::string &text : {"{\"" + name + "\": 5}", "{\"" + name + "\": {\"max\": 1}}"}) {
        const Reading reading = read_memory_text(text.c_str());
        ASSERT_FALSE(reading.log.empty());
        EXPECT_LT(reading.log.size(), 400u) << reading.log.substr(0, 400);
        EXPECT_NE(reading.log.find(std::string(LOG_TEXT_LIMIT, 'k') + LOG_TEXT_CUT_MARK), std::string::npos)
            << reading.log.substr(0, 400);
    }
    // An unterminated huge string: the parser quotes what it read in its message.
    const Reading broken = read_memory_text(("{\"" + name).c_str());
    EXPECT_FALSE(broken.accepted);
    EXPECT_LT(broken.log.size(), 400u) << broken.log.substr(0, 400);
    EXPECT_NE(broken.log.find(LOG_TEXT_CUT_MARK), std::string::npos) << broken.log.substr(0, 400);
}

}  // namespace
