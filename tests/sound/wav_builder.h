// Byte-level WAV building for the parser and decoder tests: every field is written by hand so a
// test can declare sizes that disagree with what follows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "libcommon.h"
#include "support/log_capture.h"
#include "support/wav_bytes.h"

namespace wav {

using Bytes = std::vector<unsigned char>;

using test_support::put_fourcc;
using test_support::put_le16;
using test_support::put_le32;

inline Bytes operator+(Bytes left, const Bytes &right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

struct Format {
    uint16_t audio_format = 1;
    uint16_t channels = 1;
    uint32_t sample_rate = 16000;
    uint16_t bits_per_sample = 16;
    uint16_t block_align = 0;  // 0: channels * bytes per sample
    uint32_t byte_rate = 0;    // 0: sample_rate * block_align

    uint16_t align() const {
        return block_align != 0 ? block_align
                                : static_cast<uint16_t>(channels * (bits_per_sample / 8));
    }
    uint32_t rate() const { return byte_rate != 0 ? byte_rate : sample_rate * align(); }
};

// A chunk: identifier, declared size (the payload's by default) and payload, no pad byte.
inline Bytes chunk(const char *id, const Bytes &payload, int64_t declared = -1) {
    Bytes out;
    put_fourcc(out, id);
    put_le32(out, declared < 0 ? static_cast<uint32_t>(payload.size()) : static_cast<uint32_t>(declared));
    return out + payload;
}

// A 'fmt ' chunk: its 16 base bytes, then tail (extension size and bytes, if any), under the
// given declared size.
inline Bytes fmt_chunk(const Format &format, uint32_t declared = 16, const Bytes &tail = {}) {
    Bytes body;
    put_le16(body, format.audio_format);
    put_le16(body, format.channels);
    put_le32(body, format.sample_rate);
    put_le32(body, format.rate());
    put_le16(body, format.align());
    put_le16(body, format.bits_per_sample);
    return chunk("fmt ", body + tail, declared);
}

inline Bytes data_chunk(const Bytes &payload, int64_t declared = -1) {
    return chunk("data", payload, declared);
}

// "RIFF", the size of what follows, the form type, then the chunks as given.
inline Bytes riff(std::initializer_list<Bytes> chunks, const char *form = "WAVE") {
    Bytes body;
    for (const Bytes &c : chunks) body = body + c;
    Bytes out;
    put_fourcc(out, "RIFF");
    put_le32(out, static_cast<uint32_t>(body.size() + 4));
    put_fourcc(out, form);
    return out + body;
}

inline Bytes pcm16(std::initializer_list<int> samples) {
    Bytes out;
    for (int s : samples) put_le16(out, static_cast<uint16_t>(static_cast<int16_t>(s)));
    return out;
}

// A plain 16-bit PCM file around the given samples.
inline Bytes pcm16_file(const Format &format, const Bytes &samples) {
    return riff({fmt_chunk(format), data_chunk(samples)});
}

using test_support::LogCapture;

// true when log holds a line "<level> sound.cpp:<line>: <message>".
inline bool has_line(const std::string &log, const std::string &level, const std::string &message) {
    const std::string prefix = level + " sound.cpp:";
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(start, end - start);
        const size_t colon = line.find(": ");
        if (line.rfind(prefix, 0) == 0 && colon != std::string::npos &&
            line.substr(colon + 2) == message) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace wav
