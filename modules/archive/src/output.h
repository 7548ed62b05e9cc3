// The three record formats: one record per file, each a complete line.
#pragma once

#include <string>

#include "record.h"

namespace sonara_archive {

enum class OutputFormat { text, jsonl, csv };

// Which optional parts the run's records carry (CSV columns depend on them).
struct RecordShape {
    bool strict = false;
    bool decode = false;
};

// What comes before the first record (the CSV header row); empty for the other formats.
std::string output_header(OutputFormat format, const RecordShape &shape);
// One file's record, ending with a newline.
std::string output_record(OutputFormat format, const FileReport &report, const RecordShape &shape);

std::string text_record(const FileReport &report);
std::string jsonl_record(const FileReport &report);
std::string csv_header(const RecordShape &shape);
std::string csv_record(const FileReport &report, const RecordShape &shape);

// "not evaluated", "passed", "failed".
const char *slot_state_text(int state);
// "STATE_OK" ... ; "STATE_UNKNOWN" for a code outside the vocabulary.
const char *state_name_of(int code);
// The unit of a slot's value, or null.
const char *slot_unit(const std::string &name);

}  // namespace sonara_archive
