// One file's outcome as the engine writes it: copied out of the session so that the session can
// check the next file while this one waits for its turn in path order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonara_archive {

// One result slot as the check left it.
struct SlotReport {
    std::string name;
    bool enabled = false;
    int32_t state = 0;  // 0 not evaluated (no value), 1 passed, 2 failed
    double value = 0.0;
    bool has_channels = false;  // signal_noise with per-channel values
    std::vector<double> channels;
};

// Evidence of one channel of the decoded samples; NaN where not measured.
struct ChannelEvidence {
    double peak_dbfs = 0.0;
    double rms_dbfs = 0.0;
    double dc_offset = 0.0;
    std::optional<uint64_t> clipped_samples;
    double speech_seconds = 0.0;
    uint64_t frames = 0;
    std::vector<std::pair<double, double>> segments;
};

struct Evidence {
    std::vector<ChannelEvidence> channels;
    bool segments = false;  // segments were asked for
};

// What the strict rules add on top of the library's verdict.
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
    std::optional<Evidence> evidence;
    std::optional<StrictVerdict> strict;
    uint64_t bytes = 0;
    double audio_seconds = 0.0;  // the header's duration, when the header was read
    // When decoding: what the file was ("FLAC 24-bit", "WAV PCM 16-bit") and whether the WAV
    // judged is a conversion of it.
    std::optional<std::string> source_format;
    bool converted = false;
    std::optional<uint64_t> declared_frames;  // converted files: what the header claims
    std::optional<uint64_t> decoded_frames;   // converted files: what the stream gave
    std::string unmeasured;  // why values that need samples were not measured, when they weren't

    bool checked() const { return error.empty(); }
    bool failed() const { return checked() && (!result || (strict && strict->failed)); }
};

}  // namespace sonara_archive
