// libvisara: picture headers, session lifecycle, the three judged properties and their states.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "picture.h"
#include "libcommon.h"
#include "payment_layout.h"
#include "picture_bytes.h"
#include "support/log_capture.h"
#include "visara.h"

namespace fs = std::filesystem;

namespace {

constexpr char default_configuration[] = R"({
  "version": "test-1",
  "length": { "min": 0, "max": 64 },
  "width":  { "min": 100, "max": 1000 },
  "height": { "min": 50, "max": 800 }
})";

std::string describe(const Bytes &bytes) {
    std::string text;
    char hex[4];
    for (unsigned char b : bytes) {
        std::snprintf(hex, sizeof(hex), "%02x ", b);
        text += hex;
    }
    return text;
}

// A heap copy of exactly `size` bytes, so that AddressSanitizer sees any read past the end.
std::unique_ptr<unsigned char[]> exact_copy(const Bytes &bytes, size_t size) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(copy.get(), bytes.data(), size);
    return copy;
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/visara_test_XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path &path() const { return path_; }
    std::string write(const std::string &name, const std::string &text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return (path_ / name).string();
    }

private:
    fs::path path_;
};

class PhotoSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&session, 0, sizeof(session));
        config = dir.write("ci_configuration.json", default_configuration);
    }
    void TearDown() override {
        if (session.payment != nullptr) i_destroy_session(&session);
    }
    void create(const std::string &text) {
        std::string path = dir.write("custom.json", text);
        ASSERT_TRUE(i_create_session(&session, path.c_str()));
    }
    const SessionValue *slots() {
        SessionValue *first = nullptr;
        EXPECT_TRUE(i_result_session(&session, &first));
        return first;
    }

    TempDir dir;
    std::string config;
    Session session;
};

} // namespace

TEST(PictureSize, ReadsDimensionsOfEachRecognisedHeader) {
    struct Case {
        const char *label;
        Bytes bytes;
        PictureFormat format;
        uint32_t width, height;
    } cases[] = {
        {"png", png_bytes(640, 480), PictureFormat::png, 640, 480},
        {"png large", png_bytes(0x7fffffff, 3), PictureFormat::png, 0x7fffffff, 3},
        {"jpeg sof0", jpeg_bytes(1024, 768, 0xc0), PictureFormat::jpeg, 1024, 768},
        {"jpeg sof1", jpeg_bytes(300, 200, 0xc1), PictureFormat::jpeg, 300, 200},
        {"jpeg sof2", jpeg_bytes(65535, 1, 0xc2), PictureFormat::jpeg, 65535, 1},
    };
    for (const Case &c : cases) {
        PictureSize size;
        ASSERT_TRUE(read_picture_size(c.bytes.data(), c.bytes.size(), &size)) << c.label;
        EXPECT_EQ(size.format, c.format) << c.label;
        EXPECT_EQ(size.width, c.width) << c.label;
        EXPECT_EQ(size.height, c.height) << c.label;
    }
}

TEST(PictureSize, JpegFillBytesAndStandaloneMarkersAreWalked) {
    Bytes bytes = jpeg_bytes(320, 240);
    // Fill bytes before the APP0 marker, and a restart marker (no length) before it.
    bytes.insert(bytes.begin() + 2, {0xff, 0xd0, 0xff, 0xff});
    PictureSize size;
    ASSERT_TRUE(read_picture_size(bytes.data(), bytes.size(), &size)) << describe(bytes);
    EXPECT_EQ(size.width, 320u);
    EXPECT_EQ(size.height, 240u);
}

TEST(PictureSize, RefusesWhatIsNoReadableHeader) {
    Bytes sos_first = {0xff, 0xd8};
    put_segment(sos_first, 0xda, {1, 1, 0, 0, 0x3f, 0});
    Bytes lossless_only = {0xff, 0xd8};
    put_segment(lossless_only, 0xc3, {8, 0, 10, 0, 10, 1, 1, 0x11, 0});
    lossless_only.insert(lossless_only.end(), {0xff, 0xd9});
    Bytes short_length = {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x01, 0xff, 0xc0};
    Bytes long_length = {0xff, 0xd8, 0xff, 0xe0, 0xff, 0xff, 0, 0, 0, 0};
    Bytes short_frame = {0xff, 0xd8};
    put_segment(short_frame, 0xc0, {8, 0, 10, 0});
    Bytes no_marker = {0xff, 0xd8, 0x12, 0x34, 0xff, 0xc0};
    struct Case {
        const char *label;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}},
        {"wav", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}},
        {"png zero width", png_bytes(0, 10)},
        {"png zero height", png_bytes(10, 0)},
        {"png over 2^31", png_bytes(0x80000000u, 10)},
        {"png ihdr length", png_bytes(10, 10, 12)},
        {"jpeg zero width", jpeg_bytes(0, 10)},
        {"jpeg scan before frame", sos_first},
        {"jpeg lossless frame only", lossless_only},
        {"jpeg segment length below 2", short_length},
        {"jpeg segment past the end", long_length},
        {"jpeg frame too short", short_frame},
        {"jpeg garbage between segments", no_marker},
    };
    for (const Case &c : cases) {
        auto copy = exact_copy(c.bytes, c.bytes.size());
        PictureSize size;
        EXPECT_FALSE(read_picture_size(copy.get(), c.bytes.size(), &size))
            << c.label << ": " << describe(c.bytes);
        EXPECT_EQ(size.format, PictureFormat::unknown) << c.label;
    }
}

// Every prefix of a valid header is either refused or, once the size bytes are all there, read
// right; none is read past its end.
TEST(PictureSize, EveryTruncationIsSafe) {
    struct Case {
        const char *label;
        Bytes bytes;
    } cases[] = {{"png", png_bytes(640, 480)}, {"jpeg", jpeg_bytes(640, 480)}};
    for (const Case &c : cases) {
        bool read_before = false;
        for (size_t n = 0; n <= c.bytes.size(); ++n) {
            auto copy = exact_copy(c.bytes, n);
            PictureSize size;
            bool read = read_picture_size(copy.get(), n, &size);
            if (read) {
                EXPECT_EQ(size.width, 640u) << c.label << " prefix " << n;
                EXPECT_EQ(size.height, 480u) << c.label << " prefix " << n;
            } else {
                EXPECT_FALSE(read_before)
                    << c.label << ": prefix " << n << " refused after a shorter one was read";
            }
            read_before = read_before || read;
        }
        EXPECT_TRUE(read_before) << c.label;
    }
}

TEST_F(PhotoSessionTest, CreationFillsTheVersionBlockAndDestructionClearsIt) {
    ASSERT_TRUE(i_create_session(&session, config.c_str()));
    EXPECT_EQ(session.state, STATE_OK);
    EXPECT_EQ(session.major, 1);
    EXPECT_EQ(session.minor, 2);
    EXPECT_EQ(session.patch, 5);
    EXPECT_STREQ(session.vendor, "kestro");
    EXPECT_STREQ(i_session_configuration_version(&session), "test-1");
    EXPECT_EQ(std::strlen(i_session_configuration_hash(&session)), 64u);

    const SessionValue *first = slots();
    const char *names[] = {"length", "width", "height"};
    const SessionValue *slot = first;
    for (const char *name : names) {
        ASSERT_NE(slot, nullptr);
        EXPECT_STREQ(slot->name, name);
        EXPECT_EQ(slot->state, SESSION_VALUE_NOT_EVALUATED);
        EXPECT_TRUE(slot->enable);
        slot = slot->next;
    }
    EXPECT_EQ(slot, nullptr);

    ASSERT_TRUE(i_destroy_session(&session));
    EXPECT_EQ(session.payment, nullptr);
    EXPECT_EQ(session.state, STATE_OK);
    Session blank;
    std::memset(&blank, 0, sizeof(blank));
    EXPECT_EQ(std::memcmp(&session, &blank, SESSION_VERSION_BLOCK_SIZE), 0);
}

TEST_F(PhotoSessionTest, DirectoryStandsForItsConfigurationFile) {
    ASSERT_TRUE(i_create_session(&session, dir.path().c_str()));
    EXPECT_STREQ(i_session_configuration_version(&session), "test-1");
}

TEST_F(PhotoSessionTest, CreationFailuresLeaveNoSession) {
    std::string broken = dir.write("broken.json", "{ \"width\": ");
    std::string missing = (dir.path() / "missing.json").string();
    struct Case {
        const char *label;
        const char *path;
        bool version_written;
    } cases[] = {
        {"null path", nullptr, false},
        {"empty path", "", false},
        {"missing file", missing.c_str(), true},
        {"syntax error", broken.c_str(), true},
    };
    for (const Case &c : cases) {
        std::memset(&session, 0, sizeof(session));
        EXPECT_FALSE(i_create_session(&session, c.path)) << c.label;
        EXPECT_EQ(session.state, STATE_BAD_CONFIGURATION) << c.label;
        EXPECT_EQ(session.payment, nullptr) << c.label;
        EXPECT_EQ(session.major, c.version_written ? 1 : 0) << c.label;
    }
    EXPECT_FALSE(i_create_session(nullptr, config.c_str()));
}

TEST_F(PhotoSessionTest, InvalidRecordsAreRefusedEverywhere) {
    // A blank record, a destroyed one, and one whose payment is not a photo session: the photo
    // magic in its first bytes, where the validity test no longer looks, and a block as large
    // as either library's payment object, so the test reads inside it.
    uint64_t foreign[(PAYMENT_MAGIC_OFFSET + 8) / 8] = {PHOTO_PAYMENT_MAGIC};
    struct Case {
        const char *label;
        void *payment;
    } cases[] = {{"blank", nullptr}, {"foreign payment", foreign}};
    unsigned char picture[] = {1, 2, 3};
    for (const Case &c : cases) {
        std::memset(&session, 0, sizeof(session));
        session.payment = static_cast<PrivateSession *>(c.payment);
        SessionValue *first = nullptr;
        EXPECT_FALSE(i_check(&session, picture, sizeof(picture))) << c.label;
        EXPECT_EQ(session.state, STATE_BAD_SESSION) << c.label;
        EXPECT_FALSE(i_result_session(&session, &first)) << c.label;
        EXPECT_EQ(first, nullptr) << c.label;
        EXPECT_FALSE(i_enable_property(&session, "width", false)) << c.label;
        EXPECT_FALSE(i_dbg_set_property(&session, "processing_image_name", "x")) << c.label;
        char *version = i_session_configuration_version(&session);
        char *hash = i_session_configuration_hash(&session);
        EXPECT_STREQ(version, "unknown") << c.label;
        EXPECT_STREQ(hash, "unknown") << c.label;
        std::free(version);
        std::free(hash);
        session.state = STATE_OK;
        EXPECT_FALSE(i_destroy_session(&session)) << c.label;
        EXPECT_EQ(session.state, STATE_BAD_SESSION) << c.label;
    }
    session.payment = nullptr;
    EXPECT_FALSE(i_check(nullptr, picture, sizeof(picture)));
    EXPECT_FALSE(i_destroy_session(nullptr));
}

TEST_F(PhotoSessionTest, CheckStatesFollowTheFirstFailure) {
    ASSERT_TRUE(i_create_session(&session, config.c_str()));
    Bytes big_png = png_bytes(640, 480);
    big_png.resize(65 * 1024 + 1);  // over the 64 KiB maximum
    struct Case {
        const char *label;
        Bytes bytes;
        bool passed;
        int state;
        int slot_states[3];  // length, width, height
        double values[3];
    } cases[] = {
        {"png fits", png_bytes(640, 480), true, STATE_OK, {1, 1, 1}, {33 / 1024.0, 640, 480}},
        {"jpeg fits", jpeg_bytes(100, 800), true, STATE_OK, {1, 1, 1}, {0, 100, 800}},
        {"too long", big_png, false, STATE_LENGTH_FAILED, {2, 0, 0}, {(65 * 1024 + 1) / 1024.0, 0, 0}},
        {"not a picture", {'R', 'I', 'F', 'F'}, false, STATE_HEAD_FAILED, {1, 0, 0}, {4 / 1024.0, 0, 0}},
        {"narrow", png_bytes(99, 480), false, STATE_WIDTH_FAILED, {1, 2, 0}, {33 / 1024.0, 99, 0}},
        {"wide", jpeg_bytes(1001, 480), false, STATE_WIDTH_FAILED, {1, 2, 0}, {0, 1001, 0}},
        {"short", png_bytes(640, 49), false, STATE_HEIGHT_FAILED, {1, 1, 2}, {33 / 1024.0, 640, 49}},
        {"tall", png_bytes(1000, 801), false, STATE_HEIGHT_FAILED, {1, 1, 2}, {33 / 1024.0, 1000, 801}},
    };
    for (Case &c : cases) {
        if (c.values[0] == 0) c.values[0] = double(c.bytes.size()) / 1024.0;
        EXPECT_EQ(i_check(&session, c.bytes.data(), c.bytes.size()), c.passed) << c.label;
        EXPECT_EQ(session.state, c.state) << c.label;
        const SessionValue *slot = slots();
        for (int i = 0; i < 3; ++i, slot = slot->next) {
            ASSERT_NE(slot, nullptr) << c.label;
            EXPECT_EQ(slot->state, c.slot_states[i]) << c.label << " slot " << slot->name;
            EXPECT_DOUBLE_EQ(slot->value, c.values[i]) << c.label << " slot " << slot->name;
        }
    }
}

TEST_F(PhotoSessionTest, EmptyContentKeepsThePreviousResults) {
    ASSERT_TRUE(i_create_session(&session, config.c_str()));
    Bytes picture = png_bytes(640, 480);
    ASSERT_TRUE(i_check(&session, picture.data(), picture.size()));
    EXPECT_FALSE(i_check(&session, nullptr, 10));
    EXPECT_EQ(session.state, STATE_CONTENT_FAILED);
    EXPECT_FALSE(i_check(&session, picture.data(), 0));
    EXPECT_EQ(session.state, STATE_CONTENT_FAILED);
    EXPECT_EQ(slots()->next->value, 640);
}

TEST_F(PhotoSessionTest, TruncatedPicturesThroughTheSessionNeverCrash) {
    ASSERT_TRUE(i_create_session(&session, config.c_str()));
    for (const Bytes &bytes : {png_bytes(640, 480), jpeg_bytes(640, 480)}) {
        for (size_t n = 1; n <= bytes.size(); ++n) {
            auto copy = exact_copy(bytes, n);
            bool passed = i_check(&session, copy.get(), n);
            EXPECT_TRUE(session.state == STATE_HEAD_FAILED || (passed && session.state == STATE_OK))
                << "prefix " << n << " of " << describe(bytes) << " gave state " << session.state;
        }
    }
}

TEST_F(PhotoSessionTest, MissingOrSwitchedOffRangesPassAnyValue) {
    create(R"({ "version": "v", "width": { "min": 100, "max": 200, "enable": false },
                "height": { "min": 100, "max": 200 } })");
    Bytes picture = png_bytes(5000, 150);
    EXPECT_TRUE(i_check(&session, picture.data(), picture.size()));
    const SessionValue *length = slots();
    EXPECT_FALSE(length->enable);          // not configured
    EXPECT_FALSE(length->next->enable);    // configured off
    EXPECT_TRUE(length->next->next->enable);
    EXPECT_EQ(length->next->state, SESSION_VALUE_PASSED);
    EXPECT_EQ(length->next->value, 5000);

    // Switching a range takes effect in the next check.
    EXPECT_TRUE(i_enable_property(&session, "width", true));
    EXPECT_FALSE(i_check(&session, picture.data(), picture.size()));
    EXPECT_EQ(session.state, STATE_WIDTH_FAILED);
    EXPECT_TRUE(i_enable_property(&session, "height", false));
    Bytes tall = png_bytes(150, 9000);
    EXPECT_TRUE(i_check(&session, tall.data(), tall.size()));
    EXPECT_FALSE(i_enable_property(&session, "depth", false));
    EXPECT_FALSE(i_enable_property(&session, nullptr, false));
}

TEST_F(PhotoSessionTest, ReversedRangesAreRefusedUnlessSwitchedOff) {
    struct Case {
        const char *label;
        const char *entry;  // one more member of the configuration
        bool created;
        const char *name;  // named in the level-5 line when refused
    } cases[] = {
        {"equal ends", R"("width": {"min": 5, "max": 5})", true, nullptr},
        {"reversed", R"("width": {"min": 10, "max": 5})", false, "width"},
        {"reversed only below one unit", R"("length": {"min": 1.5, "max": 1.2})", false, "length"},
        {"reversed under another name", R"("depth": {"min": 2, "max": 1})", false, "depth"},
        {"reversed but switched off", R"("height": {"min": 10, "max": 5, "enable": false})", true,
         nullptr},
    };
    for (const Case &c : cases) {
        std::string path = dir.write("ranges.json", std::string(R"({"version": "r", )") + c.entry + "}");
        std::memset(&session, 0, sizeof(session));
        test_support::LogCapture log(LOG_DEBUG);
        EXPECT_EQ(i_create_session(&session, path.c_str()), c.created) << c.label;
        if (c.created) {
            EXPECT_EQ(session.state, STATE_OK) << c.label;
            EXPECT_EQ(log.text().find("ERROR"), std::string::npos) << c.label << "\n" << log.text();
            EXPECT_TRUE(i_destroy_session(&session)) << c.label;
            continue;
        }
        EXPECT_EQ(session.state, STATE_BAD_CONFIGURATION) << c.label;
        EXPECT_EQ(session.payment, nullptr) << c.label;
        const std::string wrong = "ERROR visara.cpp:";
        const std::string message =
            std::string("Wrong configuration '") + c.name + "' : minimum value greater than maximum";
        bool found = false;
        for (const std::string &line : log.lines())
            found = found || (line.rfind(wrong, 0) == 0 && line.find(message) != std::string::npos);
        EXPECT_TRUE(found) << c.label << "\n" << log.text();
    }
}

TEST_F(PhotoSessionTest, DebugPropertyAcceptsOnlyTheProcessingImageName) {
    ASSERT_TRUE(i_create_session(&session, config.c_str()));
    std::string target = (dir.path() / "out_processing.jpg").string();
    std::string value = target;
    EXPECT_TRUE(i_dbg_set_property(&session, "processing_image_name", value.c_str()));
    value.assign(value.size(), 'x');  // the library keeps its own copy
    EXPECT_TRUE(i_dbg_set_property(&session, "processing_image_name", target.c_str()));
    EXPECT_FALSE(i_dbg_set_property(&session, "processing_sound_name", "a"));
    EXPECT_FALSE(i_dbg_set_property(&session, nullptr, "a"));
    EXPECT_FALSE(i_dbg_set_property(&session, "processing_image_name", nullptr));
    Bytes picture = png_bytes(640, 480);
    EXPECT_TRUE(i_check(&session, picture.data(), picture.size()));
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(PhotoSessionTest, CreateWithLogWritesToTheGivenStream) {
    char *text = nullptr;
    size_t length = 0;
    FILE *stream = open_memstream(&text, &length);
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(i_create_session_with_log(&session, "", 1, stream));
    std::fflush(stream);
    EXPECT_NE(std::string(text, length).find("visara.cpp"), std::string::npos) << text;
    log_init(3, nullptr, 0, 0);
    std::fclose(stream);
    std::free(text);
}
