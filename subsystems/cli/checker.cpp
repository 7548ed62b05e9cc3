#include "checker.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "file_reader.h"
#include "strict.h"

namespace sonara_cli {
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

}  // namespace

const char *slot_unit(const std::string &name) {
    static const struct {
        const char *slot;
        const char *unit;
    } units[] = {{"length", "KiB"},      {"sample_rate", "Hz"},      {"voice_duration", "s"},
                 {"telephony_border", "dB"}, {"channels", "channels"}, {"depth", "bits"},
                 {"duration", "s"},      {"signal_noise", "dB"}};
    for (const auto &entry : units) {
        if (name == entry.slot) return entry.unit;
    }
    return nullptr;
}

Checker::Checker(const CheckSettings &settings) : settings_(settings) {
    created_ = v_create_session(&session_, settings_.configuration.c_str());
    if (created_) {
        version_ = v_session_configuration_version(&session_);
        hash_ = v_session_configuration_hash(&session_);
    }
}

Checker::~Checker() {
    if (session_.payment != nullptr) v_destroy_session(&session_);
}

FileReport Checker::check(const Input &input) {
    FileReport report;
    report.path = input.path;
    if (!input.error.empty()) {
        report.error = input.error;
        return report;
    }
    const FileContent content = read_whole_file(input.path, settings_.max_size);
    if (!content.error.empty()) {
        report.error = content.error;
        return report;
    }
    report.bytes = content.size;
    report.config_version = version_;
    report.config_hash = hash_;
    const auto check = settings_.all ? v_check_all : v_check;
    report.result = check(&session_, content.data.get(), content.size);
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
                if (value->text != nullptr && slot.name == "signal_noise") {
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
        report.strict = judge_strictly(report, content.data.get(), content.size);
    }
    return report;
}

}  // namespace sonara_cli
