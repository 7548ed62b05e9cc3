#include "output.h"

#include "libcommon.h"

namespace sonara_cli {

const char *slot_state_text(int state) { return state_name(state); }

std::string output_header(OutputFormat format, bool strict) {
    return format == OutputFormat::csv ? csv_header(strict) : std::string();
}

std::string output_record(OutputFormat format, const FileReport &report, bool strict) {
    switch (format) {
    case OutputFormat::jsonl:
        return jsonl_record(report);
    case OutputFormat::csv:
        return csv_record(report, strict);
    case OutputFormat::text:
        break;
    }
    return text_record(report);
}

}  // namespace sonara_cli
