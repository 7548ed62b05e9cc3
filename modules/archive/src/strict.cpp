#include "strict.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "sonara.h"

namespace sonara_archive {
namespace {

constexpr uint16_t FORMAT_PCM = 1;
constexpr uint16_t FORMAT_EXTENSIBLE = 0xFFFE;
constexpr double QUIET_PEAK_DBFS = -60.0;  // a channel this quiet holds no usable speech

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

void header_reasons(const unsigned char *content, size_t size, std::vector<std::string> &reasons) {
    SonaraWavFormat format{};
    if (!v_read_format(content, size, &format)) return;
    const uint64_t bytes_per_sample = (static_cast<uint64_t>(format.bits_per_sample) + 7) / 8;
    const uint64_t byte_rate = static_cast<uint64_t>(format.sample_rate) * format.block_align;
    const uint64_t block_align = static_cast<uint64_t>(format.channels) * bytes_per_sample;
    if (format.byte_rate != byte_rate) {
        reasons.push_back("header: byte rate " + std::to_string(format.byte_rate) + " != " +
                          std::to_string(byte_rate));
    }
    if (format.block_align != block_align) {
        reasons.push_back("header: block align " + std::to_string(format.block_align) + " != " +
                          std::to_string(block_align));
    }
    const bool pcm = format.format_code == FORMAT_PCM ||
                     (format.format_code == FORMAT_EXTENSIBLE && format.pcm_sub_format);
    if (!pcm) {
        reasons.push_back("header: format code " + std::to_string(format.format_code) + " is not integer PCM");
    }
}

void evidence_reasons(const Evidence &evidence, const StrictRules &rules, std::vector<std::string> &reasons) {
    for (size_t c = 0; c < evidence.channels.size(); ++c) {
        const ChannelEvidence &channel = evidence.channels[c];
        const std::string name = "channel " + std::to_string(c + 1);
        if (channel.clipped_samples && channel.frames > 0) {
            const double share = static_cast<double>(*channel.clipped_samples) / static_cast<double>(channel.frames);
            if (share > rules.max_clipped) {
                reasons.push_back(name + ": " + std::to_string(*channel.clipped_samples) + " clipped samples (" +
                                  number(share) + " > " + number(rules.max_clipped) + ")");
            }
        }
        if (channel.frames == 0) continue;
        if (std::isnan(channel.peak_dbfs)) {
            reasons.push_back(name + ": silent");
        } else if (channel.peak_dbfs < QUIET_PEAK_DBFS) {
            reasons.push_back(name + ": peak " + number(channel.peak_dbfs) + " dBFS below -60 dBFS");
        }
    }
}

}  // namespace

StrictVerdict judge_strictly(const FileReport &report, const unsigned char *content, size_t size,
                             const StrictRules &rules) {
    StrictVerdict verdict;
    for (const SlotReport &slot : report.slots) {
        if (slot.state == 0) continue;
        bool finite = std::isfinite(slot.value);
        for (const double value : slot.channels) finite = finite && std::isfinite(value);
        if (!finite) verdict.reasons.push_back("not finite: " + slot.name);
    }
    header_reasons(content, size, verdict.reasons);
    if (report.evidence) evidence_reasons(*report.evidence, rules, verdict.reasons);
    if (report.declared_frames && report.decoded_frames && *report.declared_frames != *report.decoded_frames) {
        verdict.reasons.push_back("decoded " + std::to_string(*report.decoded_frames) + " frames, header declares " +
                                  std::to_string(*report.declared_frames));
    }
    verdict.failed = !verdict.reasons.empty();
    return verdict;
}

}  // namespace sonara_archive
