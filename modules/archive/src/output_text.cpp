// The readable format: one line per file, the evaluated values with their units.
//   PATH: passed STATE_OK (0); length 52.7 KiB ok; sample_rate 16000 Hz ok; ...
// A value that failed is marked FAILED, one whose check is switched off "off"; slots that were
// not evaluated are left out.
#include <cmath>
#include <cstdio>

#include "escape.h"
#include "output.h"

namespace sonara_archive {
namespace {

std::string number(double value) {
    if (std::isnan(value)) return "nan";
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string slot_text(const SlotReport &slot) {
    std::string text = slot.name + " " + number(slot.value);
    // "channels 2", not "channels 2 channels": a unit that only repeats the name is left out.
    const char *unit = slot_unit(slot.name);
    if (unit != nullptr && slot.name != unit) text += std::string(" ") + unit;
    if (slot.has_channels && slot.channels.size() > 1) {
        text += " [";
        for (size_t i = 0; i < slot.channels.size(); ++i) {
            text += (i == 0 ? "" : ", ") + number(slot.channels[i]);
        }
        text += "]";
    }
    if (slot.state == 2) return text + " FAILED";
    return text + (slot.enabled ? " ok" : " off");
}

}  // namespace

std::string text_record(const FileReport &report) {
    std::string line = escape_control(report.path) + ": ";
    if (!report.checked()) return line + "error: " + escape_control(report.error) + "\n";
    line += report.result ? "passed " : "failed ";
    line += std::string(state_name_of(report.state)) + " (" + std::to_string(report.state) + ")";
    for (const SlotReport &slot : report.slots) {
        if (slot.state != 0) line += "; " + slot_text(slot);
    }
    if (report.source_format) {
        line += "; source " + escape_control(*report.source_format) + (report.converted ? ", converted" : "");
    }
    if (!report.unmeasured.empty()) line += "; unmeasured: " + escape_control(report.unmeasured);
    if (report.strict) {
        line += report.strict->failed ? "; strict FAILED:" : "; strict ok";
        for (size_t i = 0; i < report.strict->reasons.size(); ++i) {
            line += (i == 0 ? " " : ", ") + report.strict->reasons[i];
        }
    }
    return line + "\n";
}

}  // namespace sonara_archive
