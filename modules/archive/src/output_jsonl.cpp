// JSON Lines: one object per file, as docs/results-schema.md describes it.
#include <cmath>

#include <nlohmann/json.hpp>

#include "escape.h"
#include "output.h"
#include "sonara_vocabulary.h"

namespace sonara_archive {
namespace {

// Members keep the order of the results schema.
using json = nlohmann::ordered_json;

// A number, or null when not finite.
json finite_or_null(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

const char *special_name(double value) {
    if (std::isnan(value)) return "nan";
    return value > 0 ? "inf" : "-inf";
}

json slot_object(const SlotReport &slot) {
    json object = json::object();
    object["name"] = slot.name;
    object["enabled"] = slot.enabled;
    object["state"] = slot_state_text(slot.state);
    const bool reached = slot.state != 0;
    object["value"] = reached ? finite_or_null(slot.value) : json(nullptr);
    if (reached && !std::isfinite(slot.value)) object["special"] = special_name(slot.value);
    const char *unit = slot_unit(slot.name);
    object["unit"] = unit != nullptr ? json(unit) : json(nullptr);
    if (slot.has_channels) {
        json channels = json::array();
        for (const double value : slot.channels) channels.push_back(finite_or_null(value));
        object["channels"] = channels;
    }
    return object;
}

json details_object(const Evidence &evidence) {
    json channels = json::array();
    json segments = json::array();
    for (const ChannelEvidence &channel : evidence.channels) {
        json object = json::object();
        object["peak_dbfs"] = finite_or_null(channel.peak_dbfs);
        object["rms_dbfs"] = finite_or_null(channel.rms_dbfs);
        object["dc_offset"] = finite_or_null(channel.dc_offset);
        object["clipped_samples"] = channel.clipped_samples ? json(*channel.clipped_samples) : json(nullptr);
        object["speech_seconds"] = finite_or_null(channel.speech_seconds);
        channels.push_back(object);
        json runs = json::array();
        for (const auto &[start, end] : channel.segments) runs.push_back(json::array({start, end}));
        segments.push_back(runs);
    }
    json details = {{"channels", channels}};
    if (evidence.segments) details["segments"] = segments;
    return details;
}

}  // namespace

std::string jsonl_record(const FileReport &report) {
    json object = json::object();
    if (!report.checked()) {
        object["error"] = valid_utf8(report.error);
    } else {
        object["result"] = report.result;
        object["state"] = report.state;
        object["state_name"] = state_name_of(report.state);
        object["config_version"] = valid_utf8(report.config_version);
        object["config_hash"] = report.config_hash;
        json slots = json::array();
        for (const SlotReport &slot : report.slots) slots.push_back(slot_object(slot));
        object["slots"] = slots;
        if (report.evidence) object["details"] = details_object(*report.evidence);
        if (report.strict) {
            object["strict"] = {{"failed", report.strict->failed}, {"reasons", report.strict->reasons}};
        }
        if (report.source_format) {
            object["source_format"] = valid_utf8(*report.source_format);
            object["converted"] = report.converted;
        }
        if (report.decoded_frames) {
            object["declared_frames"] = report.declared_frames ? json(*report.declared_frames) : json(nullptr);
            object["decoded_frames"] = *report.decoded_frames;
        }
        if (!report.unmeasured.empty()) object["unmeasured"] = report.unmeasured;
    }
    // The path is written by hand: its bytes need not be UTF-8, and each stray byte is kept as
    // an escape that reads back into it. Everything else outside ASCII is written escaped.
    const std::string rest = object.dump(-1, ' ', true, json::error_handler_t::replace);
    std::string line = "{\"schema\":";
    line.append(std::to_string(sonara_vocabulary::RESULTS_SCHEMA)).append(",\"path\":").append(json_string(report.path));
    if (rest.size() > 2) {
        line.append(",").append(rest, 1, std::string::npos);
    } else {
        line.append("}");
    }
    line.push_back('\n');
    return line;
}

}  // namespace sonara_archive
