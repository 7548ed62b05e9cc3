#include "strict.h"

#include <cmath>
#include <string>

#include "wav_format.h"

namespace sonara_cli {

StrictVerdict judge_strictly(const FileReport &report, const unsigned char *content, size_t size) {
    StrictVerdict verdict;
    for (const SlotReport &slot : report.slots) {
        if (slot.state == 0) {
            continue;
        }
        bool finite = std::isfinite(slot.value);
        for (const double value : slot.channels) {
            finite = finite && std::isfinite(value);
        }
        if (!finite) {
            verdict.reasons.push_back("not finite: " + slot.name);
        }
    }
    if (const std::optional<WavFormat> format = read_wav_format(content, size)) {
        const uint64_t bytes_per_sample = (static_cast<uint64_t>(format->bits_per_sample) + 7) / 8;
        const uint64_t byte_rate = static_cast<uint64_t>(format->sample_rate) * format->block_align;
        const uint64_t block_align = static_cast<uint64_t>(format->channels) * bytes_per_sample;
        if (format->byte_rate != byte_rate) {
            verdict.reasons.push_back("header: byte rate " + std::to_string(format->byte_rate) +
                                      " != " + std::to_string(byte_rate));
        }
        if (format->block_align != block_align) {
            verdict.reasons.push_back("header: block align " +
                                      std::to_string(format->block_align) + " != " +
                                      std::to_string(block_align));
        }
        const bool pcm = format->format_code == WAV_FORMAT_PCM ||
                         (format->format_code == WAV_FORMAT_EXTENSIBLE && format->pcm_sub_format);
        if (!pcm) {
            verdict.reasons.push_back("header: format code " +
                                      std::to_string(format->format_code) + " is not integer PCM");
        }
    }
    verdict.failed = !verdict.reasons.empty();
    return verdict;
}

}  // namespace sonara_cli
