#include "output.h"

#include "sonara_vocabulary.h"

namespace sonara_archive {

const char *slot_state_text(int state) {
    for (const auto &entry : sonara_vocabulary::SLOT_STATES) {
        if (entry.code == state) return entry.text;
    }
    return "unknown";
}

const char *state_name_of(int code) {
    for (const auto &entry : sonara_vocabulary::STATES) {
        if (entry.code == code) return entry.name;
    }
    return "STATE_UNKNOWN";
}

const char *slot_unit(const std::string &name) {
    for (const auto &slot : sonara_vocabulary::SLOTS) {
        if (name == slot.name) return slot.unit;
    }
    return nullptr;
}

std::string output_header(OutputFormat format, const RecordShape &shape) {
    return format == OutputFormat::csv ? csv_header(shape) : std::string();
}

std::string output_record(OutputFormat format, const FileReport &report, const RecordShape &shape) {
    switch (format) {
    case OutputFormat::jsonl:
        return jsonl_record(report);
    case OutputFormat::csv:
        return csv_record(report, shape);
    case OutputFormat::text:
        break;
    }
    return text_record(report);
}

}  // namespace sonara_archive
