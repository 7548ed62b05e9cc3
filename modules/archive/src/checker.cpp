#include "checker.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "escape.h"
#include "file_reader.h"
#include "libcommon.h"
#include "sonara_convert.h"
#include "sonara_vocabulary.h"

namespace sonara_archive {
namespace {

// The per-channel values of the signal_noise slot's text ("%f" values joined by ", ").
std::vector<double> channel_values(const char *text) {
    std::vector<double> values;
    const char *at = text;
    while (*at != '\0') {
        char *end = nullptr;
        const double value = std::strtod(at, &end);
        if (end == at) break;
        values.push_back(value);
        at = end;
        while (*at == ',' || *at == ' ') ++at;
    }
    return values;
}

// Bytes of a file's start that decide whether decoding converts it.
constexpr size_t DECIDING_BYTES = 1 << 20;
// Bytes of a file's start the strict rules read its header from: a header almost always ends
// within them, and one whose chunks run past them is read whole. Kept small because strict
// checks read it once more after the check, for every file of an archive of short prompts.
constexpr size_t HEADER_BYTES = 64 << 10;

std::string session_text(char *text) { return text != nullptr ? without_partial_character(text) : std::string(); }

}  // namespace

Checker::Checker(const CheckSettings &settings) : settings_(settings) {
    code_ = settings_.configuration.empty()
                ? voice_session_init_from_memory(&session_, settings_.configuration_text.c_str())
                : voice_session_init(&session_, settings_.configuration.c_str());
    created_ = code_ == VOICE_SESSION_OK;
    if (created_) {
        version_ = session_text(v_session_configuration_version(&session_));
        hash_ = session_text(v_session_configuration_hash(&session_));
        // Every record whose samples were decoded carries their evidence.
        v_set_details(&session_, SONARA_DETAILS_EVIDENCE | (settings_.segments ? SONARA_DETAILS_SEGMENTS : 0u));
    }
}

Checker::~Checker() {
    if (session_.payment != nullptr) v_destroy_session(&session_);
}

FileReport Checker::check(const Item &item) {
    FileReport report;
    report.path = item.path;
    if (!item.error.empty()) {
        report.error = item.error;
        return report;
    }
    const OpenFile file(item.path);
    if (!file.ok()) {
        report.error = file.error();
        return report;
    }
    report.bytes = file.size();
    if (!settings_.decode) {
        judge_file(file, report);
        return report;
    }
    // What decoding judges is decided by the bytes. A large integer PCM WAV is told from the
    // start of the file (the library's walk reaches its 'data' chunk there) and judged from the
    // file as it is read, like any WAV; anything else is read whole and converted.
    const FileContent start = read_file_start(file, DECIDING_BYTES);
    if (!start.error.empty()) {
        report.error = start.error;
        return report;
    }
    if (start.size < file.size()) {
        SonaraWavFormat format{};
        v_read_format(start.data.get(), start.size, &format);
        if (format.reached_data && sonara_convert_is_integer_pcm_wav(start.data.get(), start.size)) {
            SonaraConversion named{};
            sonara_convert(start.data.get(), start.size, 0, &named);  // judged as it is: names it only
            report.source_format = named.source_format;
            report.converted = false;
            sonara_conversion_free(&named);
            judge_file(file, report);
            return report;
        }
    }
    const FileContent whole = start.size == file.size() ? FileContent{} : read_whole_file(file, settings_.max_size);
    if (!whole.error.empty()) {
        report.error = whole.error;
        return report;
    }
    const FileContent &content = start.size == file.size() ? start : whole;
    if (content.size > settings_.max_size && !sonara_convert_is_integer_pcm_wav(content.data.get(), content.size)) {
        report.error = too_large(content.size, settings_.max_size);
        return report;
    }
    // The file's own bytes, or the WAV converted from them, which lives until this returns.
    SonaraConversion conversion{};
    struct Release {
        SonaraConversion &conversion;
        ~Release() { sonara_conversion_free(&conversion); }
    } release{conversion};
    const size_t bound = settings_.max_size > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(settings_.max_size);
    const size_t budget = decoding_budget(bound);
    const int code = sonara_convert_bounded(content.data.get(), content.size, bound, budget, &conversion);
    if (code < 0) {
        report.error = conversion.error;
        return report;
    }
    report.source_format = conversion.source_format;
    report.converted = conversion.converted;
    if (!conversion.converted) {
        judge(content.data.get(), content.size, report);
        return report;
    }
    if (conversion.declared_known) report.declared_frames = conversion.declared_frames;
    report.decoded_frames = conversion.decoded_frames;
    if (conversion.truncated) {
        judge_past_budget(conversion, budget, report);
    } else {
        judge(conversion.wav, conversion.wav_size, report);
    }
    return report;
}

void Checker::judge_file(const OpenFile &file, FileReport &report) {
    report.config_version = version_;
    report.config_hash = hash_;
    int error = 0;
    report.result = v_check_fd(&session_, file.fd(), settings_.all, &error);
    if (error != 0) {
        FileReport failed;
        failed.path = report.path;
        failed.error = error == EIO ? "the file changed while it was read (it ends before its size)"
                                    : std::string("cannot read: ") + std::strerror(error);
        report = std::move(failed);
        return;
    }
    report.state = session_.state;
    copy_slots(report);
    report.evidence = evidence();
    if (settings_.strict) {
        // The header as the library reads it, from the file's start; chunks before 'data' that
        // run past it (rare) are read whole, within the size limit.
        FileContent start = read_file_start(file, HEADER_BYTES);
        SonaraWavFormat format{};
        v_read_format(start.data.get(), start.size, &format);
        if (start.size < file.size() && format.riff_wave && !format.reached_data) {
            start = read_whole_file(file, settings_.max_size);
        }
        report.strict = judge_strictly(report, start.data.get(), start.size, settings_.strict_rules);
        if (!start.error.empty()) report.strict->reasons.push_back("header: not read (" + start.error + ")");
        report.strict->failed = !report.strict->reasons.empty();
    }
}

size_t Checker::decoding_budget(size_t bound) {
    // A WAV over the length maximum fails that check whatever its samples: holding more of it
    // than the maximum (and its header) would judge nothing more.
    SonaraLimit length{};
    if (!v_session_limit(&session_, "length", &length) || !length.enabled) return bound;
    const double bytes = std::max(0.0, length.maximum) * 1024.0 + SONARA_CONVERT_HEADER_SIZE;
    return bytes < static_cast<double>(bound) ? static_cast<size_t>(bytes) : bound;
}

namespace {

// The converted WAV as a file of its full size of which only the start is held: reading the
// rest fails, so a check that needed those samples could never judge made-up ones.
int64_t read_held_start(void *user, unsigned char *buffer, size_t size, uint64_t offset) {
    const auto *conversion = static_cast<const SonaraConversion *>(user);
    if (offset >= conversion->wav_size) {
        errno = ERANGE;
        return -1;
    }
    const size_t count = std::min<uint64_t>(size, conversion->wav_size - offset);
    std::memcpy(buffer, conversion->wav + offset, count);
    return static_cast<int64_t>(count);
}

}  // namespace

void Checker::judge_past_budget(const SonaraConversion &conversion, size_t budget, FileReport &report) {
    // The length check comes first and fails on the full size, so v_check answers from the
    // size alone, exactly as it would on the whole WAV; its samples are not judged, even with
    // --all, and the record says so.
    SonaraReader reader{read_held_start, const_cast<SonaraConversion *>(&conversion), conversion.full_wav_size, 0};
    report.config_version = version_;
    report.config_hash = hash_;
    report.result = v_check_reader(&session_, &reader, false);
    if (reader.error != 0) {
        FileReport failed;
        failed.path = report.path;
        failed.error = "the decoded WAV passed the decoding budget and could not be judged";
        report = std::move(failed);
        return;
    }
    report.state = session_.state;
    copy_slots(report);
    report.unmeasured = "the decoded WAV is " + std::to_string(conversion.full_wav_size) +
                        " bytes, past the decoding budget of " + std::to_string(budget) +
                        " bytes: the samples past it were counted, not judged";
    LogText escaped{};
    LOG(LOG_WARN, "[archive] %s: %s", log_text(&escaped, report.path.c_str()), report.unmeasured.c_str());
    if (settings_.strict) report.strict = judge_strictly(report, conversion.wav, conversion.wav_size, settings_.strict_rules);
}

void Checker::judge(const unsigned char *content, size_t size, FileReport &report) {
    report.config_version = version_;
    report.config_hash = hash_;
    const auto check = settings_.all ? v_check_all : v_check;
    report.result = check(&session_, content, size);
    report.state = session_.state;
    copy_slots(report);
    report.evidence = evidence();
    if (settings_.strict) {
        report.strict = judge_strictly(report, content, size, settings_.strict_rules);
    }
}

void Checker::copy_slots(FileReport &report) {
    // An empty file leaves the previous file's values in the result block: none are reported.
    if (report.state != STATE_CONTENT_FAILED) {
        SessionValue *first = nullptr;
        if (v_result_session(&session_, &first)) {
            for (const SessionValue *value = first; value != nullptr; value = value->next) {
                SlotReport slot;
                slot.name = value->name != nullptr ? value->name : "";
                slot.enabled = value->enable;
                slot.state = value->state;
                slot.value = value->value;
                if (value->text != nullptr && slot.name == "signal_noise" && slot.state != 0) {
                    slot.has_channels = true;
                    slot.channels = channel_values(value->text);
                }
                if (slot.name == "duration" && slot.state != 0 && std::isfinite(slot.value)) {
                    report.audio_seconds = slot.value;
                }
                report.slots.push_back(std::move(slot));
            }
        }
    }
}

std::optional<Evidence> Checker::evidence() {
    const SonaraDetails *details = nullptr;
    if (!v_details_session(&session_, &details) || details == nullptr || !details->measured) return std::nullopt;
    Evidence evidence;
    evidence.segments = settings_.segments;
    evidence.channels.reserve(details->channel_count);
    for (uint32_t c = 0; c < details->channel_count; ++c) {
        const SonaraChannelDetails &from = details->channels[c];
        ChannelEvidence channel;
        channel.peak_dbfs = from.peak_dbfs;
        channel.rms_dbfs = from.rms_dbfs;
        channel.dc_offset = from.dc_offset;
        channel.clipped_samples = from.clipped_samples;
        channel.speech_seconds = from.speech_seconds;
        channel.frames = from.frames;
        if (from.segments != nullptr) {
            channel.segments.emplace();
            channel.segments->reserve(from.segment_count);
            for (uint64_t i = 0; i < from.segment_count; ++i) {
                channel.segments->emplace_back(from.segments[i].start, from.segments[i].end);
            }
        }
        evidence.channels.push_back(std::move(channel));
    }
    return evidence;
}

}  // namespace sonara_archive
