// Prints, for each lossy encoding of the speech fixtures, how far every judged value lands from
// the 16-bit original's. Run by hand to re-measure the tolerances in the tests and the README.
#include <cmath>
#include <cstdio>

#include "convert_support.h"

using namespace convert_test;

int main() {
    const std::string root = SONARA_SOURCE_DIR;
    JudgingSession session(root + "/config/cv_configuration.json");
    if (!session.created()) return 1;
    const char *sources[] = {"/samples/clean_8000_stereo.wav", "left", "/samples/clean_16000_mono.wav"};
    const struct {
        const char *name;
        int format;
    } formats[] = {{"A-law", SF_FORMAT_WAV | SF_FORMAT_ALAW},
                   {"u-law", SF_FORMAT_WAV | SF_FORMAT_ULAW},
                   {"IMA ADPCM", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM},
                   {"GSM", SF_FORMAT_WAV | SF_FORMAT_GSM610},
                   {"Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
                   {"Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
                   {"MP3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}};
    for (const char *source : sources) {
        const bool left = std::string(source) == "left";
        const Pcm pcm = left ? left_channel(read_pcm(root + sources[0])) : read_pcm(root + source);
        const Verdict reference = session.judge(left ? encode(pcm, SF_FORMAT_WAV | SF_FORMAT_PCM_16) : read_bytes(root + source));
        std::printf("%s: state %d\n", source, reference.state);
        for (const Slot &s : reference.slots) std::printf("   %-16s %d %10.4f %s\n", s.name.c_str(), s.state, s.value, s.text.c_str());
        for (const auto &format : formats) {
            const Bytes encoded = encode(pcm, format.format);
            Conversion conversion(encoded);
            const Verdict verdict = session.judge(conversion.wav());
            std::printf("  %-10s code %d '%s' %zu bytes -> state %d:", format.name, conversion.code,
                        conversion.record.source_format, encoded.size(), verdict.state);
            for (size_t i = 0; i < verdict.slots.size() && i < reference.slots.size(); ++i) {
                std::printf(" %s %+.4f%s", verdict.slots[i].name.c_str(), verdict.slots[i].value - reference.slots[i].value,
                            verdict.slots[i].state == reference.slots[i].state ? "" : "(!)");
            }
            std::printf(" [%s]\n", verdict.slot("signal_noise") ? verdict.slot("signal_noise")->text.c_str() : "");
        }
    }
    return 0;
}
