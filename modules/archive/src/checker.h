// One worker's session: reads a file, decodes it when asked, checks it through libsonara and
// copies the outcome out into a FileReport.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "file_reader.h"
#include "record.h"
#include "sonara.h"
#include "sonara_convert.h"
#include "sources.h"
#include "strict.h"

namespace sonara_archive {

struct CheckSettings {
    std::string configuration;       // a file or folder, as v_create_session takes it
    std::string configuration_text;  // or the text, when configuration is empty
    bool all = false;                // v_check_all instead of v_check
    bool strict = false;
    bool decode = false;             // convert what is not integer PCM WAV before checking it
    bool segments = false;           // evidence carries speech segments
    uint64_t max_size = 0;           // largest file read, and largest WAV a conversion may make
    StrictRules strict_rules;
};

class Checker {
public:
    explicit Checker(const CheckSettings &settings);
    ~Checker();
    Checker(const Checker &) = delete;
    Checker &operator=(const Checker &) = delete;

    // False when the configuration was refused (the library has logged why).
    bool created() const { return created_; }
    // The voice_session_ code of the creation.
    int creation_code() const { return code_; }

    FileReport check(const Item &item);

private:
    void judge(const unsigned char *content, size_t size, FileReport &report);
    // A WAV file, judged as it is read.
    void judge_file(const OpenFile &file, FileReport &report);
    // A conversion that held only the budget's worth of its WAV.
    void judge_past_budget(const SonaraConversion &conversion, size_t budget, FileReport &report);
    // The result slots of the last check.
    void copy_slots(FileReport &report);
    // The bytes of decoded WAV a conversion may hold, at most bound.
    size_t decoding_budget(size_t bound);
    // The evidence the session kept of its last check, when that check decoded the samples.
    std::optional<Evidence> evidence();

    const CheckSettings &settings_;
    Session session_{};
    int code_ = 0;
    bool created_ = false;
    std::string version_;
    std::string hash_;
};

}  // namespace sonara_archive
