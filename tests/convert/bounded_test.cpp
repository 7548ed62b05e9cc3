// Decoding within a budget, to the end of the stream, and malformed Ogg files: what a file can't
// do to the process that converts it (memory out of proportion, a header that under-counts, a
// leak per file).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>

#include "convert_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define CONVERT_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CONVERT_TEST_ASAN 1
#endif
#endif
#ifdef CONVERT_TEST_ASAN
#include <sanitizer/lsan_interface.h>
#endif

namespace convert_test {
namespace {

const std::string kRoot = SONARA_SOURCE_DIR;
const std::string kConfiguration = kRoot + "/config/cv_configuration.json";
const std::string kSpeech = kRoot + "/tests/fixtures/speech_8k.wav";

constexpr size_t kMiB = size_t{1} << 20;

uint32_t le32_at(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// The stored WAV agrees with the record: a canonical header over exactly the stored frames.
void expect_header_matches_record(const SonaraConversion &record) {
    ASSERT_NE(record.wav, nullptr);
    ASSERT_GE(record.wav_size, 44U);
    const unsigned char *wav = record.wav;
    EXPECT_EQ(std::memcmp(wav, "RIFF", 4), 0);
    EXPECT_EQ(le32_at(wav + 4), record.wav_size - 8);
    EXPECT_EQ(std::memcmp(wav + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(wav[22] | (wav[23] << 8), record.channels);
    EXPECT_EQ(le32_at(wav + 24), record.sample_rate);
    EXPECT_EQ(le32_at(wav + 40), record.stored_frames * record.channels * 2U);
    EXPECT_EQ(record.wav_size, 44 + record.stored_frames * record.channels * 2U);
    EXPECT_EQ(record.full_wav_size, 44 + record.decoded_frames * record.channels * 2U);
    EXPECT_EQ(record.truncated, record.stored_frames < record.decoded_frames);
}

// A FLAC file of silence written by libsndfile, block by block.
Bytes silent_flac(int channels, int sample_rate, sf_count_t frames) {
    ScratchFile scratch;
    SF_INFO info{};
    info.samplerate = sample_rate;
    info.channels = channels;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(scratch.path().c_str(), SFM_WRITE, &info);
    if (file == nullptr) return {};
    const sf_count_t block = 65536;
    const std::vector<short> zeros(static_cast<size_t>(block * channels), 0);
    for (sf_count_t written = 0; written < frames; written += block) {
        sf_writef_short(file, zeros.data(), std::min(block, frames - written));
    }
    sf_close(file);
    return read_bytes(scratch.path());
}

// Rewrites STREAMINFO's 36-bit total-samples count of a FLAC file libsndfile wrote.
void set_flac_total(Bytes &flac, uint64_t total) {
    ASSERT_EQ(std::memcmp(flac.data(), "fLaC", 4), 0);
    flac[21] = static_cast<unsigned char>((flac[21] & 0xF0) | ((total >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i) flac[22 + i] = static_cast<unsigned char>(total >> (8 * (3 - i)));
}

// ---------------------------------------------------------------------------------------------
// The budget: what is stored, what is counted.

TEST(ConvertBudget, StoresTheFirstFramesAndCountsTheWholeStream) {
    const Pcm pcm = read_pcm(kSpeech);
    const Bytes flac = encode(pcm, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const size_t exact = 44 + pcm.samples.size() * 2;
    Conversion whole(flac);
    ASSERT_EQ(whole.code, SONARA_CONVERT_CONVERTED) << whole.record.error;
    const std::vector<short> all = whole.samples();

    struct Case {
        size_t max_wav_size, budget;
        size_t stored_frames;
    } cases[] = {
        {0, 0, pcm.frames()},                   // the RIFF limit, every frame
        {0, exact, pcm.frames()},               // just enough
        {0, exact - 1, pcm.frames() - 1},       // one byte short: whole frames only
        {exact, 1000, (1000 - 44) / 2},
        {0, 44, 0},                             // the header alone, every frame counted
        {exact, exact * 10, pcm.frames()},      // a budget past the limit is the limit
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.max_wav_size) + " / " + std::to_string(c.budget));
        Conversion bounded(flac, c.max_wav_size, c.budget);
        ASSERT_EQ(bounded.code, SONARA_CONVERT_CONVERTED) << bounded.record.error;
        const SonaraConversion &r = bounded.record;
        EXPECT_EQ(r.decoded_frames, pcm.frames());
        EXPECT_EQ(r.stored_frames, c.stored_frames);
        EXPECT_EQ(r.full_wav_size, exact);
        EXPECT_TRUE(r.declared_known);
        EXPECT_EQ(r.declared_frames, pcm.frames());
        expect_header_matches_record(r);
        const std::vector<short> stored = bounded.samples();
        EXPECT_TRUE(std::equal(stored.begin(), stored.end(), all.begin())) << "the stored part is the start";
    }

    // The whole WAV past max_wav_size is refused, whatever the budget; a budget under a header too.
    Conversion over(flac, exact - 2, 1000);
    EXPECT_EQ(over.code, SONARA_CONVERT_TOO_LARGE);
    EXPECT_EQ(over.record.wav, nullptr);
    EXPECT_EQ(over.record.decoded_frames, 0U);
    Conversion tiny(flac, 0, 43);
    EXPECT_EQ(tiny.code, SONARA_CONVERT_BAD_ARGUMENT);
    EXPECT_STRNE(tiny.record.error, "");
    // Integer PCM WAV is judged as it is, whatever the budget.
    Conversion pcm_wav(read_bytes(kSpeech), 0, 44);
    EXPECT_EQ(pcm_wav.code, SONARA_CONVERT_AS_IS);
}

// Runs work in a child process and answers how far its peak resident size rose over the RSS it
// started with (getrusage's maxrss, which a fresh process starts at its current size), with the
// child's own figures in `report`.
struct BombReport {
    int code = 0;
    bool truncated = false;
    uint64_t decoded_frames = 0, stored_frames = 0, full_wav_size = 0, wav_size = 0;
    long peak_growth_kib = -1;
};

BombReport in_child(const std::function<BombReport()> &work) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        BombReport report = work();
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        report.peak_growth_kib = after.ru_maxrss - before.ru_maxrss;
        const ssize_t written = write(pipe_ends[1], &report, sizeof report);
        _exit(written == static_cast<ssize_t>(sizeof report) ? 0 : 1);
    }
    close(pipe_ends[1]);
    BombReport report;
    const ssize_t got = child > 0 ? read(pipe_ends[0], &report, sizeof report) : 0;
    close(pipe_ends[0]);
    int status = 0;
    if (child > 0) waitpid(child, &status, 0);
    if (got != static_cast<ssize_t>(sizeof report)) report.peak_growth_kib = -1;
    return report;
}

// A decompression bomb: silence compresses to almost nothing, so a FLAC file of a few hundred KB
// decodes to hundreds of MB. Within a budget the peak memory is the budget plus a fixed working
// set, and the record still has the whole stream's length.
TEST(ConvertBudget, ABombStaysWithinTheBudget) {
    const int channels = 8, rate = 48000;
    const sf_count_t frames = sf_count_t{rate} * 400;  // 400 s: a 307 MB WAV
    const Bytes bomb = silent_flac(channels, rate, frames);
    ASSERT_FALSE(bomb.empty());
    ASSERT_LT(bomb.size(), 2 * kMiB);
    const size_t full = 44 + static_cast<size_t>(frames) * channels * 2;
    const size_t budget = 20 * kMiB;

    const BombReport report = in_child([&] {
        BombReport r;
        SonaraConversion record{};
        r.code = sonara_convert_bounded(bomb.data(), bomb.size(), 0, budget, &record);
        r.truncated = record.truncated;
        r.decoded_frames = record.decoded_frames;
        r.stored_frames = record.stored_frames;
        r.full_wav_size = record.full_wav_size;
        r.wav_size = record.wav_size;
        sonara_conversion_free(&record);
        return r;
    });
    ASSERT_GE(report.peak_growth_kib, 0) << "the child gave no report";
    EXPECT_EQ(report.code, SONARA_CONVERT_CONVERTED);
    EXPECT_TRUE(report.truncated);
    EXPECT_EQ(report.decoded_frames, static_cast<uint64_t>(frames));
    EXPECT_EQ(report.full_wav_size, full);
    EXPECT_EQ(report.stored_frames, (budget - 44) / (channels * 2));
    EXPECT_LE(report.wav_size, budget);
    // The budget plus a working set of a few MiB (libFLAC's frame buffers, the decoding block),
    // against the 307 MB the whole WAV would take.
    const long bound_kib = static_cast<long>((budget + 40 * kMiB) / 1024);
    EXPECT_LE(report.peak_growth_kib, bound_kib) << "peak RSS grew by " << report.peak_growth_kib << " KiB";
    std::printf("bomb: %zu bytes of FLAC, a %zu-byte WAV; peak RSS +%ld KiB with a %zu-byte budget\n", bomb.size(),
                full, report.peak_growth_kib, budget);
}

// ---------------------------------------------------------------------------------------------
// The whole stream, whatever the header declares.

// libsndfile stops reading at the count a header declares; a FLAC file whose STREAMINFO
// under-counts is decoded to its end all the same, and gives the honest file's WAV and verdict.
TEST(ConvertWholeStream, AFlacHeaderThatUnderCountsIsDecodedToTheEnd) {
    const Pcm pcm = read_pcm(kSpeech);
    const Bytes honest = encode(pcm, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    Conversion reference(honest);
    ASSERT_EQ(reference.code, SONARA_CONVERT_CONVERTED) << reference.record.error;
    JudgingSession session(kConfiguration);
    ASSERT_TRUE(session.created());
    const Verdict expected = session.judge(reference.wav());

    struct Case {
        const char *name;
        uint64_t declared;
        bool known;
    } cases[] = {
        {"a fifth declared", pcm.frames() / 5, true},
        {"one frame declared", 1, true},
        {"unknown (0)", 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes lying = honest;
        set_flac_total(lying, c.declared);
        Conversion conversion(lying);
        ASSERT_EQ(conversion.code, SONARA_CONVERT_CONVERTED) << conversion.record.error;
        EXPECT_EQ(conversion.record.declared_known, c.known);
        EXPECT_EQ(conversion.record.declared_frames, c.declared);
        EXPECT_EQ(conversion.record.decoded_frames, pcm.frames());
        EXPECT_FALSE(conversion.record.truncated);
        EXPECT_TRUE(conversion.wav() == reference.wav());
        const Verdict actual = session.judge(conversion.wav());
        EXPECT_EQ(actual.state, expected.state);
        ASSERT_NE(actual.slot("duration"), nullptr);
        EXPECT_EQ(actual.slot("duration")->value, expected.slot("duration")->value);
    }

    // Declaring more than the stream holds is damage, as before.
    Bytes over = honest;
    set_flac_total(over, pcm.frames() + 1);
    Conversion damaged(over);
    EXPECT_EQ(damaged.code, SONARA_CONVERT_UNREADABLE);
    EXPECT_STREQ(damaged.record.error, ("damaged FLAC: the stream ends after " + std::to_string(pcm.frames()) +
                                        " of the " + std::to_string(pcm.frames() + 1) +
                                        " frames its header declares").c_str());
}

// ---------------------------------------------------------------------------------------------
// Malformed Ogg Vorbis files: refused without a trace in the process.

// An Ogg page's CRC (polynomial 0x04C11DB7, unreflected, computed with the CRC field zeroed).
uint32_t ogg_crc(const unsigned char *page, size_t size) {
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(page[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000U) ? (crc << 1) ^ 0x04C11DB7U : crc << 1;
    }
    return crc;
}

struct OggPage {
    size_t at, size, body_at;
};

std::vector<OggPage> ogg_pages(const Bytes &ogg) {
    std::vector<OggPage> pages;
    size_t at = 0;
    while (at + 27 <= ogg.size() && std::memcmp(ogg.data() + at, "OggS", 4) == 0) {
        const size_t segments = ogg[at + 26];
        if (at + 27 + segments > ogg.size()) break;
        size_t body = 0;
        for (size_t i = 0; i < segments; ++i) body += ogg[at + 27 + i];
        pages.push_back({at, 27 + segments + body, at + 27 + segments});
        at += 27 + segments + body;
    }
    return pages;
}

// Writes the page's CRC anew after an edit, so the page reads as intact and the edit is what the
// decoder meets.
void reseal(Bytes &ogg, const OggPage &page) {
    std::fill(ogg.begin() + static_cast<long>(page.at) + 22, ogg.begin() + static_cast<long>(page.at) + 26, 0);
    const uint32_t crc = ogg_crc(ogg.data() + page.at, page.size);
    for (int i = 0; i < 4; ++i) ogg[page.at + 22 + i] = static_cast<unsigned char>(crc >> (8 * i));
}

// The ways an Ogg Vorbis file fails to open once its identification header is seen, which is
// where libsndfile leaks libvorbis's setup, plus bytes flipped anywhere in its headers.
std::vector<Bytes> malformed_vorbis(const Bytes &ogg) {
    const std::vector<OggPage> pages = ogg_pages(ogg);
    std::vector<Bytes> files;
    if (pages.size() < 3) return files;
    const OggPage &first = pages[0], &second = pages[1];
    // The identification header's rate (body offset 12) set to 0.
    Bytes no_rate = ogg;
    std::fill(no_rate.begin() + static_cast<long>(first.body_at) + 12, no_rate.begin() + static_cast<long>(first.body_at) + 16, 0);
    reseal(no_rate, first);
    files.push_back(no_rate);
    // The end of the file before the comment and setup headers, or inside them.
    files.emplace_back(ogg.begin(), ogg.begin() + static_cast<long>(first.size));
    files.emplace_back(ogg.begin(), ogg.begin() + static_cast<long>(second.at + second.size / 2));
    // A page of the headers missing: the next page's sequence number skips one.
    Bytes hole = ogg;
    hole[second.at + 18] = static_cast<unsigned char>(hole[second.at + 18] + 1);
    reseal(hole, second);
    files.push_back(hole);
    // The comment header's packet type damaged.
    Bytes comment = ogg;
    comment[second.body_at] = 0x05;
    reseal(comment, second);
    files.push_back(comment);
    // Flipped bytes in the header pages, intact CRCs or not.
    uint32_t state = 12345;
    for (int i = 0; i < 24; ++i) {
        Bytes flipped = ogg;
        state = state * 1103515245U + 12345U;
        const size_t at = (state >> 8) % (second.at + second.size);
        flipped[at] ^= static_cast<unsigned char>(1U << (state % 8));
        if (i % 2 == 0) {
            reseal(flipped, at < second.at ? first : second);
        }
        files.push_back(flipped);
    }
    return files;
}

size_t resident_bytes() {
    std::ifstream statm("/proc/self/statm");
    size_t total = 0, resident = 0;
    statm >> total >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

TEST(ConvertMalformedOgg, ManyFilesInOneProcessCostNothingPerFile) {
    const Bytes ogg = encode(read_pcm(kSpeech), SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    ASSERT_FALSE(ogg.empty());
    const std::vector<Bytes> files = malformed_vorbis(ogg);
    ASSERT_GE(files.size(), 20U);

    // The five built to fail are refused, naming what is wrong.
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        Conversion conversion(files[i]);
        EXPECT_EQ(conversion.code, SONARA_CONVERT_UNREADABLE);
        EXPECT_STREQ(conversion.record.source_format, "Ogg Vorbis");
        EXPECT_EQ(std::string(conversion.record.error).rfind("malformed Ogg Vorbis: ", 0), 0U) << conversion.record.error;
    }

    size_t converted = 0;
    auto convert_many = [&](size_t count) {
        for (size_t i = 0; i < count; ++i) {
            Conversion conversion(files[i % files.size()]);
            if (conversion.code == SONARA_CONVERT_CONVERTED) ++converted;
        }
    };
    convert_many(1000);
    const size_t after_1000 = resident_bytes();
    convert_many(19000);
    const size_t after_20000 = resident_bytes();
    const long growth_kib = (static_cast<long>(after_20000) - static_cast<long>(after_1000)) / 1024;
    std::printf("malformed Ogg: RSS %zu KiB after 1,000 files, %zu KiB after 20,000 (%+ld KiB)\n", after_1000 / 1024,
                after_20000 / 1024, growth_kib);
#ifdef CONVERT_TEST_ASAN
    // The sanitizer's quarantine holds freed memory, so RSS says nothing here: its leak check does.
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#else
    // 6 KB a file would be over 100 MiB.
    EXPECT_LE(growth_kib, 4 * 1024);
#endif
    EXPECT_LT(converted, 20000U);
}

// libsndfile stops Ogg and MP3 reads at the length their headers give too: the last page's
// granule position, and an MP3's Xing/Info frame count or, without one, a guess from the bitrate.
// A last granule before an earlier one and a Xing count short of the stream are refused; an MP3
// without the frame is decoded to its end.
TEST(ConvertWholeStream, OggAndMp3LengthsThatUnderCount) {
    const Pcm pcm = read_pcm(kSpeech);
    for (int format : {SF_FORMAT_OGG | SF_FORMAT_VORBIS, SF_FORMAT_OGG | SF_FORMAT_OPUS}) {
        SCOPED_TRACE(format);
        Bytes ogg = encode(pcm, format);
        const std::vector<OggPage> pages = ogg_pages(ogg);
        ASSERT_GE(pages.size(), 4U);
        Conversion honest(ogg);
        ASSERT_EQ(honest.code, SONARA_CONVERT_CONVERTED) << honest.record.error;
        EXPECT_EQ(honest.record.decoded_frames, honest.record.declared_frames);
        // The last page's granule position at half the one before it.
        const OggPage &last = pages.back(), &before = pages[pages.size() - 2];
        uint64_t granule = 0;
        for (int i = 0; i < 8; ++i) granule |= static_cast<uint64_t>(ogg[before.at + 6 + i]) << (8 * i);
        for (int i = 0; i < 8; ++i) ogg[last.at + 6 + i] = static_cast<unsigned char>((granule / 2) >> (8 * i));
        reseal(ogg, last);
        Conversion lying(ogg);
        EXPECT_EQ(lying.code, SONARA_CONVERT_UNREADABLE);
        EXPECT_EQ(std::string(lying.record.error).rfind("Ogg: a page's granule position (", 0), 0U) << lying.record.error;
    }

    const Bytes mp3 = encode(pcm, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
    Conversion honest(mp3);
    ASSERT_EQ(honest.code, SONARA_CONVERT_CONVERTED) << honest.record.error;
    EXPECT_TRUE(honest.record.declared_known);
    EXPECT_EQ(honest.record.decoded_frames, pcm.frames());
    size_t tag = std::search(mp3.begin(), mp3.end(), "Xing", "Xing" + 4) - mp3.begin();
    if (tag == mp3.size()) tag = std::search(mp3.begin(), mp3.end(), "Info", "Info" + 4) - mp3.begin();
    ASSERT_LT(tag + 12, mp3.size());
    ASSERT_TRUE(mp3[tag + 7] & 1) << "the frame count is present";
    Bytes under = mp3;
    under[tag + 8] = under[tag + 9] = under[tag + 10] = 0;
    under[tag + 11] = 2;
    Conversion lying(under);
    EXPECT_EQ(lying.code, SONARA_CONVERT_UNREADABLE);
    EXPECT_EQ(std::string(lying.record.error).rfind("MP3: its Xing/Info frame declares 2 MPEG frames", 0), 0U)
        << lying.record.error;
    // Without the frame libsndfile alone would stop at its guess; the stream is decoded whole
    // (the encoder's delay and padding then stay, as nothing says how long they are).
    Bytes no_tag = mp3;
    std::copy_n("XXXX", 4, no_tag.begin() + static_cast<long>(tag));
    Conversion whole(no_tag);
    ASSERT_EQ(whole.code, SONARA_CONVERT_CONVERTED) << whole.record.error;
    EXPECT_FALSE(whole.record.declared_known);
    EXPECT_GE(whole.record.decoded_frames, pcm.frames());
    EXPECT_LE(whole.record.decoded_frames, pcm.frames() + 3 * 1152);
}

}  // namespace
}  // namespace convert_test
