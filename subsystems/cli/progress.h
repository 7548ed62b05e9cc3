// A progress line on standard error, redrawn in place while a run goes on.
#pragma once

#include <chrono>
#include <cstddef>

namespace sonara_cli {

class Progress {
public:
    // Draws only when enabled (standard error is a terminal and --quiet is off).
    Progress(bool enabled, size_t total);

    // After each file: files done so far and audio seconds checked so far.
    void update(size_t done, double audio_seconds);
    // Clears the line.
    void finish();

private:
    bool enabled_;
    size_t total_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_draw_;
    bool drawn_ = false;
};

}  // namespace sonara_cli
