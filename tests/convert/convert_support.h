// Helpers for the conversion tests: recordings encoded here with libsndfile's writer from one
// speech source, a conversion owned for one test, and the libsonara verdict of a WAV.
#pragma once

#include <sndfile.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sonara.h"
#include "sonara_convert.h"
#include "support/owned_session.h"

namespace convert_test {

using Bytes = std::vector<unsigned char>;

inline Bytes read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Interleaved 16-bit samples with their layout.
struct Pcm {
    int sample_rate = 0;
    int channels = 0;
    std::vector<short> samples;
    size_t frames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
};

inline Pcm read_pcm(const std::string &path) {
    Pcm pcm;
    SF_INFO info{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return pcm;
    pcm.sample_rate = info.samplerate;
    pcm.channels = info.channels;
    pcm.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t read = sf_readf_short(file, pcm.samples.data(), info.frames);
    pcm.samples.resize(static_cast<size_t>(read) * static_cast<size_t>(info.channels));
    sf_close(file);
    return pcm;
}

// The first channel alone.
inline Pcm left_channel(const Pcm &pcm) {
    Pcm mono{pcm.sample_rate, 1, {}};
    for (size_t i = 0; i < pcm.frames(); ++i) mono.samples.push_back(pcm.samples[i * static_cast<size_t>(pcm.channels)]);
    return mono;
}

// A scratch file that is removed with the object.
class ScratchFile {
public:
    ScratchFile() {
        char name[] = "/tmp/convert_test_XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        path_ = name;
    }
    ~ScratchFile() { std::remove(path_.c_str()); }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// The bytes libsndfile writes for `format`. A float or double file gets the samples on the usual
// normalised scale, x / 32768 times `float_gain` (so it can go past full scale at 1.0); every
// other format gets the 16-bit integers.
inline Bytes encode(const Pcm &pcm, int format, double float_gain = 1.0) {
    ScratchFile scratch;
    SF_INFO info{};
    info.samplerate = pcm.sample_rate;
    info.channels = pcm.channels;
    info.format = format;
    if (!sf_format_check(&info)) return {};
    SNDFILE *file = sf_open(scratch.path().c_str(), SFM_WRITE, &info);
    if (file == nullptr) return {};
    const auto frames = static_cast<sf_count_t>(pcm.frames());
    const int subtype = format & SF_FORMAT_SUBMASK;
    if (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE) {
        std::vector<float> scaled(pcm.samples.size());
        for (size_t i = 0; i < scaled.size(); ++i) {
            scaled[i] = static_cast<float>(pcm.samples[i] * float_gain / 32768.0);
        }
        sf_writef_float(file, scaled.data(), frames);
    } else {
        sf_writef_short(file, pcm.samples.data(), frames);
    }
    sf_close(file);
    return read_bytes(scratch.path());
}

// One conversion, released with the object.
struct Conversion {
    SonaraConversion record{};
    int code = 0;
    Conversion(const Bytes &content, size_t max_wav_size = 0) {
        code = sonara_convert(content.data(), content.size(), max_wav_size, &record);
    }
    // Decoding within a budget of stored bytes.
    Conversion(const Bytes &content, size_t max_wav_size, size_t budget) {
        code = sonara_convert_bounded(content.data(), content.size(), max_wav_size, budget, &record);
    }
    ~Conversion() { sonara_conversion_free(&record); }
    Conversion(const Conversion &) = delete;
    Conversion &operator=(const Conversion &) = delete;

    Bytes wav() const {
        return record.wav != nullptr ? Bytes(record.wav, record.wav + record.wav_size) : Bytes{};
    }
    // The 16-bit samples after the canonical header.
    std::vector<short> samples() const {
        std::vector<short> out;
        if (record.wav == nullptr || record.wav_size < SONARA_CONVERT_HEADER_SIZE) return out;
        const unsigned char *data = record.wav + SONARA_CONVERT_HEADER_SIZE;
        const size_t count = (record.wav_size - SONARA_CONVERT_HEADER_SIZE) / 2;
        for (size_t i = 0; i < count; ++i) {
            out.push_back(static_cast<short>(static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8))));
        }
        return out;
    }
};

struct Slot {
    std::string name;
    int32_t state = 0;
    double value = 0;
    std::string text;
};

// What libsonara answered for one WAV: the call's result, Session.state and the result chain.
struct Verdict {
    bool result = false;
    int32_t state = -1;
    std::vector<Slot> slots;

    const Slot *slot(const std::string &name) const {
        for (const Slot &s : slots) {
            if (s.name == name) return &s;
        }
        return nullptr;
    }
};

class JudgingSession : public test_support::OwnedSession {
public:
    explicit JudgingSession(const std::string &configuration_path) {
        created_ = v_create_session(&session_, configuration_path.c_str());
    }

    Verdict judge(const Bytes &wav) {
        Verdict verdict;
        verdict.result = v_check(&session_, wav.data(), wav.size());
        verdict.state = session_.state;
        SessionValue *first = nullptr;
        if (!v_result_session(&session_, &first)) return verdict;
        for (const SessionValue *value = first; value != nullptr; value = value->next) {
            verdict.slots.push_back({value->name != nullptr ? value->name : "", value->state, value->value,
                                     value->text != nullptr ? value->text : ""});
        }
        return verdict;
    }
};

}  // namespace convert_test
