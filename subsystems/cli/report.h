// What one file's check leaves for the output formats and the summary, copied out of the
// session so that the session can check the next file while this one waits to be printed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonara_cli {

// One result slot as the check left it.
struct SlotReport {
    std::string name;
    bool enabled = false;
    int32_t state = 0;  // 0 not evaluated, 1 passed, 2 failed
    double value = 0.0;
    bool has_channels = false;  // signal_noise with per-channel values
    std::vector<double> channels;
};

// What --strict adds on top of the library's verdict.
struct StrictVerdict {
    bool failed = false;
    std::vector<std::string> reasons;
};

struct FileReport {
    std::string path;
    std::string error;  // not empty: the file could not be checked, nothing else is reported
    bool result = false;
    int32_t state = 0;
    std::string config_version;
    std::string config_hash;
    std::vector<SlotReport> slots;  // chain order; empty for an empty file (state 103)
    std::optional<StrictVerdict> strict;
    uint64_t bytes = 0;
    double audio_seconds = 0.0;  // the header's duration, when the header was read

    bool failed() const { return error.empty() && (!result || (strict && strict->failed)); }
};

// The unit a slot's value is given in, or null.
const char *slot_unit(const std::string &name);

}  // namespace sonara_cli
