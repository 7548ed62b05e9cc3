// One check of one file, as a program that checks files makes it, for measuring its peak
// resident memory (getrusage, or /usr/bin/time -v): through v_check_fd, or (--whole) read whole
// into a buffer and handed to v_check. --write makes a speech-like recording to check.
//   check_file [--all] [--whole] FILE
//   check_file --write FILE RATE CHANNELS SECONDS
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sonara.h"
#include "synthetic_speech.h"

namespace {

// Limits a speech recording passes, so every step of the check runs.
const char kConfiguration[] = R"({ "version": "bench",
    "length": { "min": 1, "max": 2000000000 }, "duration": { "min": 1, "max": 100000 },
    "depth": { "min": 16, "max": 16 }, "channels": { "min": 1, "max": 2 },
    "sample_rate": { "min": 8000, "max": 48000 }, "telephony_border": { "value": -1000 },
    "overload_border": { "value": 1.5 }, "signal_noise": { "value": -1000 },
    "voice_duration": { "value": 0.0 } })";

int write_recording(const char *path, uint32_t rate, uint16_t channels, uint64_t seconds) {
    const std::vector<int16_t> speech = synthetic::load_mono_samples(
        std::string(SONARA_SOURCE_DIR) + "/tests/fixtures/speech_8k.wav");
    // Noise above ten minutes, as the peak heap test: the speech generator is slow over an hour.
    const synthetic::Kind kind = seconds > 600 ? synthetic::Kind::noise : synthetic::Kind::voiced;
    const synthetic::Bytes wav = synthetic::recording(kind, rate, channels, rate * seconds, speech);
    FILE *file = std::fopen(path, "wb");
    if (file == nullptr || std::fwrite(wav.data(), 1, wav.size(), file) != wav.size()) return 1;
    return std::fclose(file) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 6 && std::strcmp(argv[1], "--write") == 0) {
        return write_recording(argv[2], static_cast<uint32_t>(std::atoi(argv[3])),
                               static_cast<uint16_t>(std::atoi(argv[4])),
                               static_cast<uint64_t>(std::atoll(argv[5])));
    }
    bool all = false;
    bool whole = false;
    const char *path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--all") == 0) {
            all = true;
        } else if (std::strcmp(argv[i], "--whole") == 0) {
            whole = true;
        } else {
            path = argv[i];
        }
    }
    if (path == nullptr) {
        std::fprintf(stderr, "usage: %s [--all] [--whole] FILE | --write FILE RATE CHANNELS SECONDS\n", argv[0]);
        return 2;
    }
    Session session;
    std::memset(&session, 0, sizeof session);
    if (!v_create_session_from_memory(&session, kConfiguration)) return 2;
    const int fd = open(path, O_RDONLY);
    if (fd < 0) {
        std::perror(path);
        return 3;
    }
    bool passed = false;
    int error = 0;
    if (whole) {
        struct stat status;
        if (fstat(fd, &status) != 0) return 3;
        std::vector<unsigned char> content(static_cast<size_t>(status.st_size));
        size_t done = 0;
        while (done < content.size()) {
            const ssize_t got = pread(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
            if (got <= 0) return 3;
            done += static_cast<size_t>(got);
        }
        passed = all ? v_check_all(&session, content.data(), content.size())
                     : v_check(&session, content.data(), content.size());
    } else {
        passed = v_check_fd(&session, fd, all, &error);
    }
    close(fd);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s%s: %s, state %d, error %d, peak RSS %.1f MiB\n", whole ? "read whole + v_check" : "v_check_fd",
                all ? " (all)" : "", passed ? "passed" : "failed", session.state, error,
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    v_destroy_session(&session);
    return passed ? 0 : 1;
}
