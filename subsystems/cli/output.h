// The three output formats: one record per file, each a complete line (or lines for nothing).
#pragma once

#include <string>

#include "report.h"

namespace sonara_cli {

enum class OutputFormat { text, jsonl, csv };

// The results schema's version, written in every JSON Lines record.
constexpr int RESULTS_SCHEMA = 1;

// What comes before the first record (the CSV header row); empty for the other formats.
std::string output_header(OutputFormat format, bool strict);
// One file's record, ending with a newline.
std::string output_record(OutputFormat format, const FileReport &report, bool strict);

std::string text_record(const FileReport &report);
std::string jsonl_record(const FileReport &report);
std::string csv_header(bool strict);
std::string csv_record(const FileReport &report, bool strict);

// "not evaluated", "passed", "failed".
const char *slot_state_text(int state);

}  // namespace sonara_cli
