// A record made by one checking library and handed to the other: each refuses it as an invalid
// record (state 101; 8 from the sound library) without reading outside the other's object, and
// leaves it for its own library to release. Run in the sanitizer build, where any read past
// either object or any release of the wrong object is reported.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "libcommon.h"
#include "sonara.h"
#include "support/log_capture.h"
#include "visara.h"

namespace {

constexpr char kPhotoConfiguration[] =
    R"({"version": "cross-1", "width": {"min": 1, "max": 1000}, "height": {"min": 1, "max": 1000}})";

// 0x1a2b3c, the photo library's magic, as the sound record's first member: a record whose first
// bytes match it fooled the photo library's earlier validity test.
constexpr char kSoundLookalike[] =
    R"({"signal_noise": {"value": 1715004}, "overload_border": {"value": 0.5}})";
constexpr char kSoundMinimal[] =
    R"({"signal_noise": {"value": 15}, "overload_border": {"value": 0.5}})";

class PhotoRecord {
public:
    PhotoRecord() {
        path_ = std::filesystem::temp_directory_path() /
                ("cross_library_" + std::to_string(getpid()) + ".json");
        std::ofstream(path_) << kPhotoConfiguration;
        created_ = i_create_session(&session_, path_.c_str());
    }
    ~PhotoRecord() {
        if (session_.payment != nullptr) i_destroy_session(&session_);
        std::filesystem::remove(path_);
    }
    bool created() const { return created_; }
    Session &record() { return session_; }

private:
    std::filesystem::path path_;
    Session session_{};
    bool created_ = false;
};

class SoundRecord {
public:
    explicit SoundRecord(const char *configuration) {
        created_ = v_create_session_from_memory(&session_, configuration);
    }
    ~SoundRecord() {
        if (session_.payment != nullptr) v_destroy_session(&session_);
    }
    bool created() const { return created_; }
    Session &record() { return session_; }

private:
    Session session_{};
    bool created_ = false;
};

// Each call starts from state 0, so every refusal shows its own 101.
template <typename Call>
void expect_refused(Session &record, const char *what, Call call) {
    record.state = STATE_OK;
    EXPECT_FALSE(call()) << what;
    EXPECT_EQ(record.state, STATE_BAD_SESSION) << what;
}

TEST(CrossLibrary, PhotoLibraryRefusesASoundRecord) {
    for (const char *configuration : {kSoundMinimal, kSoundLookalike}) {
        SoundRecord sound(configuration);
        ASSERT_TRUE(sound.created()) << configuration;
        Session &record = sound.record();
        PrivateSession *const payment = record.payment;
        const unsigned char picture[] = {0x89, 'P', 'N', 'G'};
        test_support::LogCapture log(LOG_ERROR);

        expect_refused(record, "i_check", [&] { return i_check(&record, picture, sizeof picture); });
        SessionValue *first = nullptr;
        expect_refused(record, "i_result_session", [&] { return i_result_session(&record, &first); });
        EXPECT_EQ(first, nullptr);
        expect_refused(record, "i_enable_property", [&] { return i_enable_property(&record, "width", false); });
        expect_refused(record, "i_dbg_set_property",
                       [&] { return i_dbg_set_property(&record, "processing_image_name", "x"); });
        for (auto text : {i_session_configuration_version, i_session_configuration_hash}) {
            record.state = STATE_OK;
            char *answer = text(&record);
            EXPECT_STREQ(answer, "unknown");
            EXPECT_EQ(record.state, STATE_BAD_SESSION);
            std::free(answer);
        }
        expect_refused(record, "i_destroy_session", [&] { return i_destroy_session(&record); });
        EXPECT_NE(log.text().find("Photo session is damaged"), std::string::npos) << log.text();

        // Untouched: still the sound library's live session.
        EXPECT_EQ(record.payment, payment);
        record.state = STATE_OK;
        EXPECT_TRUE(v_result_session(&record, &first));
        EXPECT_NE(first, nullptr);
    }
}

TEST(CrossLibrary, SoundLibraryRefusesAPhotoRecord) {
    PhotoRecord photo;
    ASSERT_TRUE(photo.created());
    Session &record = photo.record();
    PrivateSession *const payment = record.payment;
    const unsigned char wav[] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    test_support::LogCapture log(LOG_ERROR);

    expect_refused(record, "v_check", [&] { return v_check(&record, wav, sizeof wav); });
    SessionValue *first = nullptr;
    expect_refused(record, "v_result_session", [&] { return v_result_session(&record, &first); });
    EXPECT_EQ(first, nullptr);
    expect_refused(record, "v_enable_property", [&] { return v_enable_property(&record, "duration", false); });
    expect_refused(record, "v_dbg_set_property",
                   [&] { return v_dbg_set_property(&record, "processing_sound_name", "x"); });
    for (auto text : {v_session_configuration_version, v_session_configuration_hash}) {
        record.state = STATE_OK;
        char *answer = text(&record);
        EXPECT_STREQ(answer, "unknown");
        EXPECT_EQ(record.state, STATE_BAD_SESSION);
        std::free(answer);
    }
    record.state = STATE_OK;
    EXPECT_EQ(voice_session_destroy(&record), VOICE_SESSION_RECORD_DAMAGED);
    EXPECT_EQ(record.state, STATE_BAD_SESSION);
    expect_refused(record, "v_destroy_session", [&] { return v_destroy_session(&record); });
    EXPECT_NE(log.text().find("Некорректная структура сессии"), std::string::npos) << log.text();

    // Untouched: still the photo library's live session.
    EXPECT_EQ(record.payment, payment);
    record.state = STATE_OK;
    EXPECT_TRUE(i_result_session(&record, &first));
    EXPECT_NE(first, nullptr);
}

}  // namespace
