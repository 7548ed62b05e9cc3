// What one v_check costs on long speech-like recordings, against the floor of a check that
// decodes the recording into arrays: decoding the samples once, one block-fed resampling to
// 8000 Hz, one detector pass over the 8000 Hz frames and one histogram pass. The streaming
// check holds no such arrays, so it can come in under the floor. Times are seconds per hour of audio; the ratio to the
// floor is measured with both run in turn in every iteration, so load on the machine falls on
// both alike. The peak heap of one check is counted against the size of the decoded samples.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/counting_allocator.h"
#include "composed_check.h"
#include "fvad.h"
#include "sound.h"
#include "synthetic_speech.h"

#include <soxr.h>

namespace {

using Bytes = synthetic::Bytes;
using Clock = std::chrono::steady_clock;

// Telephony border, overload and signal-to-noise enabled with limits a speech recording
// passes, so every step of the check runs.
const char kConfiguration[] = R"({ "version": "bench",
    "length": { "min": 1, "max": 2000000000 }, "duration": { "min": 1, "max": 100000 },
    "depth": { "min": 16, "max": 16 }, "channels": { "min": 1, "max": 2 },
    "sample_rate": { "min": 8000, "max": 48000 }, "telephony_border": { "value": -1000 },
    "overload_border": { "value": 1.5 }, "signal_noise": { "value": -1000 },
    "voice_duration": { "value": 0.0 } })";

struct Recording {
    Bytes wav;
    uint64_t frames;
    uint16_t channels;
    double seconds;
};

// Built once per shape and kept for the whole run.
const Recording &recording(uint32_t rate, uint16_t channels, int seconds) {
    static std::map<std::tuple<uint32_t, uint16_t, int>, Recording> made;
    const auto key = std::make_tuple(rate, channels, seconds);
    auto found = made.find(key);
    if (found == made.end()) {
        static const std::vector<int16_t> speech = synthetic::load_mono_samples(
            std::string(SONARA_SOURCE_DIR) + "/tests/fixtures/speech_8k.wav");
        const uint64_t frames = static_cast<uint64_t>(rate) * static_cast<uint64_t>(seconds);
        Recording value{synthetic::recording(synthetic::Kind::voiced, rate, channels, frames, speech),
                        frames, channels, static_cast<double>(seconds)};
        found = made.emplace(key, std::move(value)).first;
    }
    return found->second;
}

class Session {
public:
    Session() {
        std::memset(&session_, 0, sizeof session_);
        if (!v_create_session_from_memory(&session_, kConfiguration)) std::abort();
    }
    ~Session() { v_destroy_session(&session_); }
    ::Session *get() { return &session_; }

private:
    ::Session session_;
};

// The floor: everything the check must at least do once. Answers a value so nothing is optimised
// away.
double floor_work(const Bytes &wav) {
    Head head;
    Unpack unpack;
    if (!read_head(wav.data(), wav.size(), &head) || !read_unpack(&head, &unpack)) std::abort();
    ResampledChannels low = resample_channels(unpack.payload, unpack.channel_count, unpack.frames,
                                              head.sample_rate, 8000);
    Fvad *detector = fvad_new();
    fvad_set_mode(detector, 3);
    fvad_set_sample_rate(detector, 8000);
    int16_t frame[80];
    int voiced = 0;
    for (uint64_t c = 0; c < unpack.channel_count; ++c) {
        for (uint64_t p = 0; p + 80 < low.frames; p += 80) {
            for (int i = 0; i < 80; ++i) frame[i] = static_cast<int16_t>(low.channels[c][p + i]);
            voiced += fvad_process(detector, frame, 80);
        }
    }
    fvad_free(detector);
    free_resampled(&low, unpack.channel_count);
    const double overload = get_overloading_value(&unpack);
    free_unpack(&unpack);
    return overload + voiced;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(benchmark::State &state, const Recording &r, double check_seconds, double floor_seconds) {
    const double hours = r.seconds / 3600.0 * static_cast<double>(state.iterations());
    state.counters["s_per_audio_hour"] = check_seconds / hours;
    if (floor_seconds > 0.0) {
        state.counters["floor_s_per_audio_hour"] = floor_seconds / hours;
        state.counters["x_floor"] = check_seconds / floor_seconds;
    }
}

void BM_Floor(benchmark::State &state) {
    const Recording &r = recording(state.range(0), state.range(1), state.range(2));
    benchmark::DoNotOptimize(floor_work(r.wav));  // the heap grows to its size once, untimed
    double spent = 0.0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        benchmark::DoNotOptimize(floor_work(r.wav));
        const double took = seconds_since(start);
        state.SetIterationTime(took);
        spent += took;
    }
    report(state, r, spent, 0.0);
}

// Times one run of a check, with the floor beside it in every iteration so load on the machine
// falls on both alike; passes(run) tells whether the check passed as configured.
template <typename Run, typename Passed>
void time_against_floor(benchmark::State &state, const Recording &r, Run run, Passed passes,
                        const char *failure) {
    benchmark::DoNotOptimize(floor_work(r.wav));
    run();
    double check = 0.0;
    double floor = 0.0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        benchmark::DoNotOptimize(floor_work(r.wav));
        floor += seconds_since(start);
        start = Clock::now();
        const auto outcome = run();
        const double took = seconds_since(start);
        if (!passes(outcome)) state.SkipWithError(failure);
        state.SetIterationTime(took);
        check += took;
    }
    report(state, r, check, floor);
}

// v_check, timed alone; the floor runs beside it in every iteration for the ratio.
void BM_Check(benchmark::State &state) {
    const Recording &r = recording(state.range(0), state.range(1), state.range(2));
    Session session;
    time_against_floor(
        state, r, [&] { return v_check(session.get(), r.wav.data(), r.wav.size()); },
        [](bool passed) { return passed; }, "the check did not pass");
}

// v_check keeping details with segments: what the evidence adds to the same walk (compare
// x_floor with BM_Check's).
void BM_CheckWithDetails(benchmark::State &state) {
    const Recording &r = recording(state.range(0), state.range(1), state.range(2));
    Session session;
    v_set_details(session.get(), SONARA_DETAILS_EVIDENCE | SONARA_DETAILS_SEGMENTS);
    time_against_floor(
        state, r, [&] { return v_check(session.get(), r.wav.data(), r.wav.size()); },
        [](bool passed) { return passed; }, "the check did not pass");
}

// The same check composed from the standalone measurements, each with its own copy, resampling
// and detector pass: what v_check cost before the measurements shared them.
void BM_Composed(benchmark::State &state) {
    const Recording &r = recording(state.range(0), state.range(1), state.range(2));
    Session session;
    time_against_floor(
        state, r,
        [&] { return differential::compose(*session.get()->payment, r.wav.data(), r.wav.size()); },
        [](int32_t code) { return code == STATE_OK; }, "the composed check did not pass");
}

// Peak heap of one check: only what is allocated during the call (the content is the caller's),
// against the decoded samples (channels x frames doubles) that the check no longer holds.
template <bool composed>
void BM_PeakHeap(benchmark::State &state) {
    const Recording &r = recording(state.range(0), state.range(1), state.range(2));
    Session session;
    int64_t peak = 0;
    for (auto _ : state) {
        counting_allocator::reset_peak();
        const int64_t before = counting_allocator::bytes_in_use();
        if (composed) {
            differential::compose(*session.get()->payment, r.wav.data(), r.wav.size());
        } else {
            v_check(session.get(), r.wav.data(), r.wav.size());
        }
        peak = std::max(peak, counting_allocator::peak_bytes() - before);
    }
    const double decoded = static_cast<double>(r.frames) * r.channels * sizeof(double);
    state.counters["peak_MiB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
    state.counters["decoded_MiB"] = decoded / (1024.0 * 1024.0);
    state.counters["x_decoded"] = static_cast<double>(peak) / decoded;
}

// Resampling a decoded recording to 8000 Hz: one soxr_process call over the whole signal, as
// resampling was done before, against the block-fed resample_channels.
template <bool whole_signal>
void BM_Resample(benchmark::State &state) {
    const Recording &r = recording(state.range(0), state.range(1), state.range(2));
    Head head;
    Unpack unpack;
    if (!read_head(r.wav.data(), r.wav.size(), &head) || !read_unpack(&head, &unpack)) std::abort();
    const uint64_t length =
        static_cast<uint64_t>(unpack.frames * (8000.0 / head.sample_rate) + 0.5);
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        uint64_t produced = 0;
        if (whole_signal) {
            soxr_error_t error = nullptr;
            const soxr_io_spec_t io_spec = soxr_io_spec(SOXR_FLOAT64_S, SOXR_FLOAT64_S);
            soxr_t resampler = soxr_create(head.sample_rate, 8000, head.channels, &error, &io_spec,
                                           nullptr, nullptr);
            std::vector<std::vector<double>> out(unpack.channel_count, std::vector<double>(length));
            std::vector<double *> outs;
            for (auto &channel : out) outs.push_back(channel.data());
            size_t done = 0;
            soxr_process(resampler, unpack.payload, unpack.frames, nullptr, outs.data(), length, &done);
            soxr_delete(resampler);
            produced = done;
        } else {
            ResampledChannels low = resample_channels(unpack.payload, unpack.channel_count,
                                                      unpack.frames, head.sample_rate, 8000);
            produced = low.frames;
            free_resampled(&low, unpack.channel_count);
        }
        benchmark::DoNotOptimize(produced);
        state.SetIterationTime(seconds_since(start));
    }
    state.counters["s_per_audio_hour"] = benchmark::Counter(
        r.seconds / 3600.0 * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    free_unpack(&unpack);
}

// A recording written to a file under /tmp once per shape (and removed at exit), read back from
// the page cache by both paths below.
const std::string &recording_file(uint32_t rate, uint16_t channels, int seconds) {
    struct Written {
        std::string path;
        ~Written() {
            if (!path.empty()) unlink(path.c_str());
        }
    };
    static std::map<std::tuple<uint32_t, uint16_t, int>, Written> written;
    const auto key = std::make_tuple(rate, channels, seconds);
    auto found = written.find(key);
    if (found == written.end()) {
        const Recording &r = recording(rate, channels, seconds);
        char path[] = "/tmp/check_bench_XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0 || write(fd, r.wav.data(), r.wav.size()) != static_cast<ssize_t>(r.wav.size())) std::abort();
        close(fd);
        // Made in place: a temporary would remove the file as it goes.
        found = written.try_emplace(key).first;
        found->second.path = path;
    }
    return found->second.path;
}

double thread_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Today's path of a program that checks a file: read it whole into a buffer, then v_check.
bool read_whole_then_check(::Session *session, const std::string &path, bool all) {
    const int fd = open(path.c_str(), O_RDONLY);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) std::abort();
    std::vector<unsigned char> content(static_cast<size_t>(status.st_size));
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t got = read(fd, content.data() + done, content.size() - done);
        if (got <= 0) std::abort();
        done += static_cast<size_t>(got);
    }
    close(fd);
    return all ? v_check_all(session, content.data(), content.size())
               : v_check(session, content.data(), content.size());
}

bool check_descriptor(::Session *session, const std::string &path, bool all) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) std::abort();
    int error = 0;
    const bool passed = v_check_fd(session, fd, all, &error);
    close(fd);
    return passed && error == 0;
}

// v_check_fd on a file against reading it whole and calling v_check (or both _all), the two run
// in turn in every iteration so load falls on both alike; timed is the descriptor's path.
template <bool all>
void BM_CheckFile(benchmark::State &state) {
    const Recording &r = recording(state.range(0), state.range(1), state.range(2));
    const std::string &path = recording_file(state.range(0), state.range(1), state.range(2));
    Session session;
    if (!check_descriptor(session.get(), path, all) || !read_whole_then_check(session.get(), path, all)) {
        state.SkipWithError("the check did not pass");
        return;
    }
    double descriptor = 0.0;
    double whole = 0.0;
    double descriptor_cpu = 0.0;
    double whole_cpu = 0.0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        double cpu = thread_cpu_seconds();
        if (!read_whole_then_check(session.get(), path, all)) state.SkipWithError("read whole: failed");
        whole += seconds_since(start);
        whole_cpu += thread_cpu_seconds() - cpu;
        start = Clock::now();
        cpu = thread_cpu_seconds();
        if (!check_descriptor(session.get(), path, all)) state.SkipWithError("v_check_fd: failed");
        const double took = seconds_since(start);
        descriptor_cpu += thread_cpu_seconds() - cpu;
        state.SetIterationTime(took);
        descriptor += took;
    }
    const double hours = r.seconds / 3600.0 * static_cast<double>(state.iterations());
    state.counters["s_per_audio_hour"] = descriptor / hours;
    state.counters["whole_s_per_audio_hour"] = whole / hours;
    state.counters["x_whole"] = descriptor / whole;
    // CPU time (user + system) of each path: what load on the machine does not stretch.
    state.counters["cpu_x_whole"] = descriptor_cpu / whole_cpu;
}

// rate, channels, seconds
void shapes(benchmark::internal::Benchmark *b, bool long_ones) {
    for (const int seconds : {60, 600}) {
        if (seconds == 600 && !long_ones) continue;
        for (const int rate : {8000, 16000, 44100, 48000}) b->Args({rate, 1, seconds});
        b->Args({16000, 2, seconds});
    }
}

}  // namespace

BENCHMARK(BM_Floor)->Apply([](auto *b) { shapes(b, true); })->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Check)->Apply([](auto *b) { shapes(b, true); })->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckWithDetails)->Apply([](auto *b) { shapes(b, false); })->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Composed)->Apply([](auto *b) { shapes(b, false); })->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Resample, true)->Args({44100, 1, 600})->Args({16000, 2, 600})->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Resample, false)->Args({44100, 1, 600})->Args({16000, 2, 600})->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_PeakHeap, false)->Args({44100, 2, 600})->Args({48000, 2, 3600})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_PeakHeap, true)->Args({44100, 2, 600})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_CheckFile, false)->Args({8000, 1, 60})->Args({8000, 1, 600})->Args({16000, 2, 600})->Args({48000, 2, 600})->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_CheckFile, true)->Args({48000, 2, 600})->UseManualTime()->Unit(benchmark::kMillisecond);

// Large buffers come from a heap that stays mapped between iterations, so the figures measure the
// work rather than how fast the machine hands out fresh pages; with --fresh_pages every large
// buffer is mapped anew (glibc's fixed 128 KiB threshold), as in a process that checks one file.
int main(int argc, char **argv) {
    bool fresh_pages = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fresh_pages") == 0) {
            fresh_pages = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    mallopt(M_MMAP_THRESHOLD, fresh_pages ? 128 * 1024 : 1 << 30);
    mallopt(M_TRIM_THRESHOLD, fresh_pages ? 128 * 1024 : 1 << 30);
    benchmark::AddCustomContext("heap", fresh_pages ? "fresh pages" : "kept mapped");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
