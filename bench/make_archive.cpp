// Writes an archive of speech-like recordings for the scanner benchmark: count files of seconds
// seconds each, cycling through 8000, 16000, 44100 and 48000 Hz, mono and stereo.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "synthetic_speech.h"

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY [COUNT [SECONDS]]\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    const int count = argc > 2 ? std::atoi(argv[2]) : 200;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    const std::vector<int16_t> speech = synthetic::load_mono_samples(
        std::string(SONARA_SOURCE_DIR) + "/tests/fixtures/speech_8k.wav");
    if (speech.empty()) return 1;
    const uint32_t rates[] = {8000, 16000, 44100, 48000};
    for (int i = 0; i < count; ++i) {
        const uint32_t rate = rates[i % 4];
        const uint16_t channels = static_cast<uint16_t>(1 + (i / 4) % 2);
        // Each file its own noise, so no two are alike.
        const std::vector<int16_t> frames = synthetic::make_frames(
            synthetic::Kind::voiced, rate, channels, static_cast<size_t>(rate) * seconds, speech,
            static_cast<uint32_t>(i + 1));
        const synthetic::Bytes wav = synthetic::wav(rate, channels, frames);
        char name[64];
        std::snprintf(name, sizeof name, "/speech_%03d_%uhz_%uch.wav", i, rate, channels);
        FILE *file = std::fopen((directory + name).c_str(), "wb");
        if (file == nullptr || std::fwrite(wav.data(), 1, wav.size(), file) != wav.size()) return 1;
        std::fclose(file);
    }
    return 0;
}
