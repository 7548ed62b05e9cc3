// CSV: one header row, then one row per file; the columns of docs/results-schema.md.
#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

#include "escape.h"
#include "output.h"
#include "sonara_vocabulary.h"

namespace sonara_archive {
namespace {

using sonara_vocabulary::DETAIL_CSV_CHANNELS;
using sonara_vocabulary::DETAIL_FIELDS;
using sonara_vocabulary::SLOTS;

// A cell a spreadsheet would take for a formula, unless it is a plain number.
bool looks_like_formula(const std::string &text) {
    if (text.empty() || (text[0] != '=' && text[0] != '+' && text[0] != '-' && text[0] != '@')) return false;
    double value = 0.0;
    const char *end = text.data() + text.size();
    const char *start = text[0] == '+' ? text.data() + 1 : text.data();
    const std::from_chars_result read = std::from_chars(start, end, value);
    return !(read.ec == std::errc() && read.ptr == end);
}

// Control characters escaped (so no field holds a newline), formula-like text made inert with a
// leading ', then RFC 4180 quoting.
std::string field(const std::string &text) {
    std::string escaped = escape_control(text);
    if (looks_like_formula(escaped)) {
        std::string inert(1, '\'');
        inert.append(escaped);
        escaped.swap(inert);
    }
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

std::string count(const std::optional<uint64_t> &value) { return value ? std::to_string(*value) : ""; }

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

// One evidence field of one channel as text.
std::string evidence_cell(const ChannelEvidence &channel, size_t field_index) {
    switch (field_index) {
    case 0: return number(channel.peak_dbfs);
    case 1: return number(channel.rms_dbfs);
    case 2: return number(channel.dc_offset);
    case 3: return count(channel.clipped_samples);
    default: return number(channel.speech_seconds);
    }
}

// The worst of every channel, per field: the highest peak, the lowest RMS, the largest DC
// offset in magnitude, the most clipped samples, the least speech.
std::string worst_cell(const Evidence &evidence, size_t field_index) {
    std::optional<double> worst;
    for (const ChannelEvidence &channel : evidence.channels) {
        double value = NAN;
        switch (field_index) {
        case 0: value = channel.peak_dbfs; break;
        case 1: value = channel.rms_dbfs; break;
        case 2: value = channel.dc_offset; break;
        case 3: value = channel.clipped_samples ? static_cast<double>(*channel.clipped_samples) : NAN; break;
        default: value = channel.speech_seconds; break;
        }
        if (std::isnan(value)) continue;
        const bool worse = !worst || (field_index == 0 && value > *worst) ||
                           (field_index == 1 && value < *worst) ||
                           (field_index == 2 && std::fabs(value) > std::fabs(*worst)) ||
                           (field_index == 3 && value > *worst) || (field_index == 4 && value < *worst);
        if (worse) worst = value;
    }
    if (!worst) return "";
    return field_index == 3 ? std::to_string(static_cast<uint64_t>(*worst)) : number(*worst);
}

}  // namespace

std::string csv_header(const RecordShape &shape) {
    std::vector<std::string> names = {"path", "result", "state", "state_name", "config_version", "config_hash"};
    for (const auto &slot : SLOTS) {
        names.push_back(slot.name);
        std::string state = slot.name;
        state.append("_state");
        names.push_back(std::move(state));
    }
    names.push_back("signal_noise_channels");
    for (size_t c = 1; c <= DETAIL_CSV_CHANNELS; ++c) {
        for (const auto &detail : DETAIL_FIELDS) {
            std::string name = "ch";
            name.append(std::to_string(c)).append("_").append(detail.name);
            names.push_back(std::move(name));
        }
    }
    for (const auto &detail : DETAIL_FIELDS) {
        std::string name = "worst_";
        name.append(detail.name);
        names.push_back(std::move(name));
    }
    if (shape.strict) {
        names.push_back("strict_failed");
        names.push_back("strict_reasons");
    }
    if (shape.decode) {
        for (const char *name : {"source_format", "converted", "declared_frames", "decoded_frames"}) names.push_back(name);
    }
    names.push_back("unmeasured");
    names.push_back("error");
    return row(names);
}

std::string csv_record(const FileReport &report, const RecordShape &shape) {
    const bool checked = report.checked();
    std::vector<std::string> fields = {report.path};
    if (checked) {
        fields.insert(fields.end(), {report.result ? "true" : "false", std::to_string(report.state),
                                     state_name_of(report.state), report.config_version, report.config_hash});
    } else {
        fields.insert(fields.end(), 5, "");
    }
    std::string channels;
    for (const auto &word : SLOTS) {
        const SlotReport *found = nullptr;
        for (const SlotReport &slot : report.slots) {
            if (slot.name == word.name) found = &slot;
        }
        const bool reached = found != nullptr && found->state != 0;
        fields.push_back(reached ? number(found->value) : "");
        fields.push_back(found != nullptr ? slot_state_text(found->state) : "");
        if (reached && found->has_channels) {
            std::vector<std::string> values;
            for (const double value : found->channels) values.push_back(number(value));
            channels = joined(values);
        }
    }
    fields.push_back(channels);
    const size_t field_count = sizeof DETAIL_FIELDS / sizeof DETAIL_FIELDS[0];
    for (size_t c = 0; c < DETAIL_CSV_CHANNELS; ++c) {
        for (size_t f = 0; f < field_count; ++f) {
            const bool known = report.evidence && c < report.evidence->channels.size();
            fields.push_back(known ? evidence_cell(report.evidence->channels[c], f) : "");
        }
    }
    for (size_t f = 0; f < field_count; ++f) fields.push_back(report.evidence ? worst_cell(*report.evidence, f) : "");
    if (shape.strict) {
        const bool judged = checked && report.strict.has_value();
        fields.push_back(judged ? (report.strict->failed ? "true" : "false") : "");
        fields.push_back(judged ? joined(report.strict->reasons) : "");
    }
    if (shape.decode) {
        const bool known = checked && report.source_format.has_value();
        fields.push_back(known ? *report.source_format : "");
        fields.push_back(known ? (report.converted ? "true" : "false") : "");
        fields.push_back(checked ? count(report.declared_frames) : "");
        fields.push_back(checked ? count(report.decoded_frames) : "");
    }
    fields.push_back(report.unmeasured);
    fields.push_back(report.error);
    return row(fields);
}

}  // namespace sonara_archive
