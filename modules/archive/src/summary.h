// The closing figures of a run: files per state, audio checked, time and throughput.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "record.h"

namespace sonara_archive {

class Summary {
public:
    void add(const FileReport &report);

    size_t files() const { return files_; }
    size_t errors() const { return errors_; }
    size_t failed() const { return failed_; }
    size_t strict_failed() const { return strict_failed_; }
    double audio_seconds() const { return audio_seconds_; }
    uint64_t bytes() const { return bytes_; }

    // One paragraph for standard error.
    std::string text(double wall_seconds, unsigned jobs) const;
    // The same figures as one JSON object (with its newline).
    std::string json(double wall_seconds, unsigned jobs, int exit_status) const;

private:
    size_t files_ = 0;
    size_t errors_ = 0;
    size_t failed_ = 0;
    size_t strict_failed_ = 0;
    double audio_seconds_ = 0.0;
    uint64_t bytes_ = 0;
    std::map<int32_t, size_t> states_;
};

}  // namespace sonara_archive
