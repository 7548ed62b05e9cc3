// CSV: one header row, then one row per file; the columns of docs/results-schema.md.
#include <charconv>
#include <cmath>
#include <vector>

#include "escape.h"
#include "libcommon.h"
#include "output.h"

namespace sonara_cli {
namespace {

// The slots in chain order, as the library links them.
const char *const SLOT_NAMES[] = {"length",           "sample_rate", "voice_duration",
                                  "overload",         "telephony_border", "channels",
                                  "depth",            "duration",    "signal_noise"};

// RFC 4180 quoting, after control characters have been escaped (so no field holds a newline).
std::string field(const std::string &text) {
    const std::string escaped = escape_control(text);
    if (escaped.find_first_of(",\"") == std::string::npos) return escaped;
    std::string quoted = "\"";
    for (const char c : escaped) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// The shortest text that reads back as the same double; empty when not finite.
std::string number(double value) {
    if (!std::isfinite(value)) return "";
    char text[32];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

std::string joined(const std::vector<std::string> &items) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i != 0) text += ';';
        text += items[i];
    }
    return text;
}

std::string row(const std::vector<std::string> &fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i != 0) line += ',';
        line += field(fields[i]);
    }
    return line + "\n";
}

}  // namespace

std::string csv_header(bool strict, bool decode) {
    std::vector<std::string> names = {"path", "result", "state", "state_name", "config_version",
                                      "config_hash"};
    for (const char *slot : SLOT_NAMES) {
        names.push_back(slot);
        names.push_back(std::string(slot) + "_state");
    }
    names.push_back("signal_noise_channels");
    if (strict) {
        names.push_back("strict_failed");
        names.push_back("strict_reasons");
    }
    if (decode) {
        names.push_back("source_format");
        names.push_back("converted");
    }
    names.push_back("error");
    return row(names);
}

std::string csv_record(const FileReport &report, bool strict, bool decode) {
    const bool checked = report.error.empty();
    std::vector<std::string> fields = {report.path};
    if (checked) {
        fields.insert(fields.end(),
                      {report.result ? "true" : "false", std::to_string(report.state),
                       session_state_name(report.state), report.config_version, report.config_hash});
    } else {
        fields.insert(fields.end(), 5, "");
    }
    std::string channels;
    for (const char *name : SLOT_NAMES) {
        const SlotReport *found = nullptr;
        for (const SlotReport &slot : report.slots) {
            if (slot.name == name) found = &slot;
        }
        fields.push_back(found != nullptr ? number(found->value) : "");
        fields.push_back(found != nullptr ? slot_state_text(found->state) : "");
        if (found != nullptr && found->has_channels) {
            std::vector<std::string> values;
            for (const double value : found->channels) values.push_back(number(value));
            channels = joined(values);
        }
    }
    fields.push_back(channels);
    if (strict) {
        const bool judged = checked && report.strict.has_value();
        fields.push_back(judged ? (report.strict->failed ? "true" : "false") : "");
        fields.push_back(judged ? joined(report.strict->reasons) : "");
    }
    if (decode) {
        const bool known = checked && report.source_format.has_value();
        fields.push_back(known ? *report.source_format : "");
        fields.push_back(known ? (report.converted ? "true" : "false") : "");
    }
    fields.push_back(report.error);
    return row(fields);
}

}  // namespace sonara_cli
