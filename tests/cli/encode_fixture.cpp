// Writes a 16-bit WAV recording in another format with libsndfile, for the --decode tests.
// usage: encode_fixture FORMAT IN.wav OUT, FORMAT one of flac16 flac24 vorbis opus mp3 alaw ulaw
// float (float is written on the normalised scale, x / 32768, times an optional GAIN).
// usage: encode_fixture silence-flac SECONDS CHANNELS RATE OUT: a FLAC file of silence, which
// compresses to almost nothing (a decompression bomb).
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int silent_flac(long seconds, int channels, int rate, const char *path) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE *out = sf_open(path, SFM_WRITE, &info);
    if (out == nullptr) return 1;
    const std::vector<short> block(static_cast<size_t>(rate) * static_cast<size_t>(channels));
    for (long second = 0; second < seconds; ++second) sf_writef_short(out, block.data(), rate);
    sf_close(out);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 6 && std::strcmp(argv[1], "silence-flac") == 0) {
        return silent_flac(std::atol(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    }
    if (argc < 4) return 2;
    const struct {
        const char *name;
        int format;
    } formats[] = {{"flac16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                   {"flac24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
                   {"vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
                   {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
                   {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
                   {"alaw", SF_FORMAT_WAV | SF_FORMAT_ALAW},
                   {"ulaw", SF_FORMAT_WAV | SF_FORMAT_ULAW},
                   {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT}};
    int format = 0;
    for (const auto &entry : formats) {
        if (std::strcmp(argv[1], entry.name) == 0) format = entry.format;
    }
    if (format == 0) return 2;
    const double gain = argc > 4 ? std::atof(argv[4]) : 1.0;

    SF_INFO in_info{};
    SNDFILE *in = sf_open(argv[2], SFM_READ, &in_info);
    if (in == nullptr) return 1;
    std::vector<short> samples(static_cast<size_t>(in_info.frames * in_info.channels));
    const sf_count_t frames = sf_readf_short(in, samples.data(), in_info.frames);
    sf_close(in);

    SF_INFO out_info{};
    out_info.samplerate = in_info.samplerate;
    out_info.channels = in_info.channels;
    out_info.format = format;
    SNDFILE *out = sf_open(argv[3], SFM_WRITE, &out_info);
    if (out == nullptr) {
        std::fprintf(stderr, "%s\n", sf_strerror(nullptr));
        return 1;
    }
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
        std::vector<float> scaled(samples.size());
        for (size_t i = 0; i < samples.size(); ++i) scaled[i] = static_cast<float>(samples[i] * gain / 32768.0);
        sf_writef_float(out, scaled.data(), frames);
    } else {
        sf_writef_short(out, samples.data(), frames);
    }
    sf_close(out);
    return 0;
}
