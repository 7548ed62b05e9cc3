// JSON Lines: one object per file, as docs/results-schema.md describes it.
#include <cmath>

#include <nlohmann/json.hpp>

#include "libcommon.h"
#include "output.h"

namespace sonara_cli {
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
    object["value"] = finite_or_null(slot.value);
    if (!std::isfinite(slot.value)) object["special"] = special_name(slot.value);
    const char *unit = slot_unit(slot.name);
    object["unit"] = unit != nullptr ? json(unit) : json(nullptr);
    if (slot.has_channels) {
        json channels = json::array();
        for (const double value : slot.channels) channels.push_back(finite_or_null(value));
        object["channels"] = channels;
    }
    return object;
}

}  // namespace

std::string jsonl_record(const FileReport &report) {
    json object = json::object();
    object["schema"] = RESULTS_SCHEMA;
    object["path"] = report.path;
    if (!report.error.empty()) {
        object["error"] = report.error;
    } else {
        object["result"] = report.result;
        object["state"] = report.state;
        object["state_name"] = session_state_name(report.state);
        object["config_version"] = report.config_version;
        object["config_hash"] = report.config_hash;
        json slots = json::array();
        for (const SlotReport &slot : report.slots) slots.push_back(slot_object(slot));
        object["slots"] = slots;
        if (report.strict) {
            object["strict"] = {{"failed", report.strict->failed}, {"reasons", report.strict->reasons}};
        }
    }
    // Bytes that are not UTF-8 become U+FFFD; everything outside ASCII is written escaped.
    return object.dump(-1, ' ', true, json::error_handler_t::replace) + "\n";
}

}  // namespace sonara_cli
