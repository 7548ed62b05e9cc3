#include "checker.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "escape.h"
#include "file_reader.h"
#include "sonara_convert.h"
#include "sonara_vocabulary.h"

namespace sonara_archive {
namespace {

// The per-channel values of the signal_noise slot's text ("%f" values joined by ", ").
std::vector<double> channel_values(const char *text) {
    std::vector<double> values;
    const char *at = text;
    while (*at != '\0') {
        char *end = nullptr;
        const double value = std::strtod(at, &end);
        if (end == at) break;
        values.push_back(value);
        at = end;
        while (*at == ',' || *at == ' ') ++at;
    }
    return values;
}

std::string session_text(char *text) { return text != nullptr ? without_partial_character(text) : std::string(); }

}  // namespace

Checker::Checker(const CheckSettings &settings) : settings_(settings) {
    code_ = settings_.configuration.empty()
                ? voice_session_init_from_memory(&session_, settings_.configuration_text.c_str())
                : voice_session_init(&session_, settings_.configuration.c_str());
    created_ = code_ == VOICE_SESSION_OK;
    if (created_) {
        version_ = session_text(v_session_configuration_version(&session_));
        hash_ = session_text(v_session_configuration_hash(&session_));
    }
}

Checker::~Checker() {
    if (session_.payment != nullptr) v_destroy_session(&session_);
}

FileReport Checker::check(const Item &item) {
    FileReport report;
    report.path = item.path;
    if (!item.error.empty()) {
        report.error = item.error;
        return report;
    }
    const FileContent content = read_whole_file(item.path, settings_.max_size);
    if (!content.error.empty()) {
        report.error = content.error;
        return report;
    }
    report.bytes = content.size;
    if (!settings_.decode) {
        judge(content.data.get(), content.size, report);
        return report;
    }
    // What is judged with decoding: the file's own bytes, or the WAV converted from them, which
    // lives until this function returns.
    SonaraConversion conversion{};
    struct Release {
        SonaraConversion &conversion;
        ~Release() { sonara_conversion_free(&conversion); }
    } release{conversion};
    const size_t bound = settings_.max_size > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(settings_.max_size);
    const int code = sonara_convert(content.data.get(), content.size, bound, &conversion);
    if (code < 0) {
        report.error = conversion.error;
        return report;
    }
    report.source_format = conversion.source_format;
    report.converted = conversion.converted;
    if (conversion.converted) {
        judge(conversion.wav, conversion.wav_size, report);
    } else {
        judge(content.data.get(), content.size, report);
    }
    return report;
}

void Checker::judge(const unsigned char *content, size_t size, FileReport &report) {
    report.config_version = version_;
    report.config_hash = hash_;
    const auto check = settings_.all ? v_check_all : v_check;
    report.result = check(&session_, content, size);
    report.state = session_.state;
    // An empty file leaves the previous file's values in the result block: none are reported.
    if (report.state != STATE_CONTENT_FAILED) {
        SessionValue *first = nullptr;
        if (v_result_session(&session_, &first)) {
            for (const SessionValue *value = first; value != nullptr; value = value->next) {
                SlotReport slot;
                slot.name = value->name != nullptr ? value->name : "";
                slot.enabled = value->enable;
                slot.state = value->state;
                slot.value = value->value;
                if (value->text != nullptr && slot.name == "signal_noise" && slot.state != 0) {
                    slot.has_channels = true;
                    slot.channels = channel_values(value->text);
                }
                if (slot.name == "duration" && slot.state != 0 && std::isfinite(slot.value)) {
                    report.audio_seconds = slot.value;
                }
                report.slots.push_back(std::move(slot));
            }
        }
    }
    if (settings_.strict) {
        report.strict = judge_strictly(report, content, size, settings_.strict_rules);
    }
}

}  // namespace sonara_archive
