// Writes the seed corpus of convert_fuzzer into a folder: short recordings in every container
// and codec libsndfile writes that the conversion decodes (FLAC, Ogg Vorbis, Opus, MP3, AIFF, CAF,
// Wave64, AU, RF64 and non-PCM WAV), plus a few whose headers lie. Made at run time by fuzz/run,
// so no seed is a binary nobody can regenerate.
// Usage: convert_seeds <folder>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Seed {
    const char *name;
    int format;
    int channels;
    int sample_rate;
};

// 0.1 s of two tones, so each channel differs and the codecs have something to code.
std::vector<short> tones(int channels, int sample_rate) {
    const int frames = sample_rate / 10;
    std::vector<short> samples(static_cast<size_t>(frames * channels));
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double hz = 440.0 + 220.0 * c;
            samples[static_cast<size_t>(i * channels + c)] =
                static_cast<short>(8000 * std::sin(2 * M_PI * hz * i / sample_rate));
        }
    }
    return samples;
}

bool write_seed(const std::string &path, const Seed &seed) {
    SF_INFO info{};
    info.samplerate = seed.sample_rate;
    info.channels = seed.channels;
    info.format = seed.format;
    if (!sf_format_check(&info)) return false;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    const std::vector<short> samples = tones(seed.channels, seed.sample_rate);
    sf_writef_short(file, samples.data(), static_cast<sf_count_t>(samples.size() / static_cast<size_t>(seed.channels)));
    sf_close(file);
    return true;
}

std::vector<unsigned char> read_all(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_all(const std::string &path, const std::vector<unsigned char> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: convert_seeds <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    const Seed seeds[] = {
        {"flac16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 8000},
        {"flac24_stereo.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 16000},
        {"vorbis.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 8000},
        {"opus.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 1, 8000},
        {"mp3.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1, 8000},
        {"aiff.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 8000},
        {"aifc_float.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 1, 8000},
        {"caf_alaw.caf", SF_FORMAT_CAF | SF_FORMAT_ALAW, 1, 8000},
        {"w64_float.w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT, 1, 8000},
        {"au_ulaw.au", SF_FORMAT_AU | SF_FORMAT_ULAW, 1, 8000},
        {"rf64.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 1, 8000},
        {"wav_float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 8000},
        {"wavex_double.wav", SF_FORMAT_WAVEX | SF_FORMAT_DOUBLE, 2, 8000},
        {"wav_ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 8000},
        {"wav_msadpcm.wav", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 2, 8000},
        {"wav_gsm.wav", SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, 8000},
        {"wav_alaw.wav", SF_FORMAT_WAV | SF_FORMAT_ALAW, 1, 8000},
    };
    int written = 0;
    for (const Seed &seed : seeds) {
        const std::string path = folder + "/" + seed.name;
        if (write_seed(path, seed)) {
            ++written;
        } else {
            std::fprintf(stderr, "convert_seeds: libsndfile could not write %s\n", seed.name);
        }
    }
    // Headers that lie about the length: a FLAC STREAMINFO counting a tenth of its frames, and
    // one claiming 2^36 - 1.
    std::vector<unsigned char> flac = read_all(folder + "/flac16.flac");
    if (flac.size() > 26) {
        std::vector<unsigned char> under = flac;
        under[21] &= 0xF0;
        under[22] = under[23] = under[24] = 0;
        under[25] = 80;
        write_all(folder + "/flac_undercounts.flac", under);
        std::vector<unsigned char> over = flac;
        over[21] |= 0x0F;
        over[22] = over[23] = over[24] = over[25] = 0xFF;
        write_all(folder + "/flac_overcounts.flac", over);
        written += 2;
    }
    std::printf("convert_seeds: %d seeds in %s\n", written, folder.c_str());
    return written > 0 ? 0 : 1;
}
