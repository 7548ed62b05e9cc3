#include "summary.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "output.h"

namespace sonara_archive {
namespace {

double per_second(double amount, double seconds) { return seconds > 0.0 ? amount / seconds : 0.0; }

}  // namespace

void Summary::add(const FileReport &report) {
    ++files_;
    if (!report.checked()) {
        ++errors_;
        return;
    }
    ++states_[report.state];
    if (report.failed()) ++failed_;
    if (report.strict && report.strict->failed) ++strict_failed_;
    audio_seconds_ += report.audio_seconds;
    bytes_ += report.bytes;
}

std::string Summary::text(double wall_seconds, unsigned jobs) const {
    std::string out = "sonara: " + std::to_string(files_) + " files: " +
                      std::to_string(files_ - errors_ - failed_) + " passed, " +
                      std::to_string(failed_) + " failed, " + std::to_string(errors_) +
                      " not checked\n";
    for (const auto &[state, count] : states_) {
        out += "  " + std::to_string(count) + " " + state_name_of(state) + " (" +
               std::to_string(state) + ")\n";
    }
    if (strict_failed_ > 0) out += "  " + std::to_string(strict_failed_) + " failed strict checks\n";
    if (errors_ > 0) out += "  " + std::to_string(errors_) + " could not be checked\n";
    char line[256];
    std::snprintf(line, sizeof line,
                  "  %.3f audio hours in %.2f s with %u jobs: %.1f audio s/s, %.1f files/s, %.1f MiB/s\n",
                  audio_seconds_ / 3600.0, wall_seconds, jobs, per_second(audio_seconds_, wall_seconds),
                  per_second(static_cast<double>(files_), wall_seconds),
                  per_second(static_cast<double>(bytes_) / (1024.0 * 1024.0), wall_seconds));
    return out + line;
}

std::string Summary::json(double wall_seconds, unsigned jobs, int exit_status) const {
    nlohmann::json states = nlohmann::json::object();
    for (const auto &[state, count] : states_) states[state_name_of(state)] = count;
    const nlohmann::json object = {
        {"schema", 1},
        {"files", files_},
        {"passed", files_ - errors_ - failed_},
        {"failed", failed_},
        {"not_checked", errors_},
        {"strict_failed", strict_failed_},
        {"states", states},
        {"audio_seconds", audio_seconds_},
        {"audio_hours", audio_seconds_ / 3600.0},
        {"bytes", bytes_},
        {"wall_seconds", wall_seconds},
        {"jobs", jobs},
        {"audio_seconds_per_second", per_second(audio_seconds_, wall_seconds)},
        {"files_per_second", per_second(static_cast<double>(files_), wall_seconds)},
        {"exit_status", exit_status},
    };
    return object.dump(2) + "\n";
}

}  // namespace sonara_archive
