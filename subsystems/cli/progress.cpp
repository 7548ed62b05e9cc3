#include "progress.h"

#include <cstdio>

namespace sonara_cli {

Progress::Progress(bool enabled, size_t total)
    : enabled_(enabled), total_(total), start_(std::chrono::steady_clock::now()), last_draw_(start_) {}

void Progress::update(size_t done, double audio_seconds) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - last_draw_ < std::chrono::milliseconds(200)) return;
    last_draw_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double rate = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
    const double left = rate > 0.0 ? static_cast<double>(total_ - done) / rate : 0.0;
    std::fprintf(stderr, "\r\033[K%zu/%zu files, %.2f audio h, %.1f files/s, %02d:%02d left", done,
                 total_, audio_seconds / 3600.0, rate, static_cast<int>(left) / 60,
                 static_cast<int>(left) % 60);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::finish() {
    if (!drawn_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

}  // namespace sonara_cli
