// libsonara_convert against libsonara's verdict on the 16-bit original: every fixture is encoded
// here, with libsndfile's writer, from the speech recordings of the repository.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <iterator>
#include <thread>

#include "convert_support.h"

namespace convert_test {
namespace {

const std::string kRoot = SONARA_SOURCE_DIR;
const std::string kConfiguration = kRoot + "/config/cv_configuration.json";
const std::string kSpeech = kRoot + "/tests/fixtures/speech_8k.wav";
const std::string kStereo = kRoot + "/samples/clean_8000_stereo.wav";
const std::string kWide = kRoot + "/samples/clean_16000_mono.wav";

uint16_t le16_at(const Bytes &bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

uint32_t le32_at(const Bytes &bytes, size_t at) {
    return static_cast<uint32_t>(le16_at(bytes, at)) | (static_cast<uint32_t>(le16_at(bytes, at + 2)) << 16);
}

void set_le32(Bytes &bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// The header of a converted file: canonical, 16-bit, the source's rate and channels, sizes
// that agree with the buffer.
void expect_canonical_header(const Bytes &wav, int sample_rate, int channels) {
    ASSERT_GE(wav.size(), 44U);
    EXPECT_EQ(std::memcmp(wav.data(), "RIFF", 4), 0);
    EXPECT_EQ(le32_at(wav, 4), wav.size() - 8);
    EXPECT_EQ(std::memcmp(wav.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(le32_at(wav, 16), 16U);
    EXPECT_EQ(le16_at(wav, 20), 1);
    EXPECT_EQ(le16_at(wav, 22), channels);
    EXPECT_EQ(le32_at(wav, 24), static_cast<uint32_t>(sample_rate));
    EXPECT_EQ(le32_at(wav, 28), static_cast<uint32_t>(sample_rate * channels * 2));
    EXPECT_EQ(le16_at(wav, 32), channels * 2);
    EXPECT_EQ(le16_at(wav, 34), 16);
    EXPECT_EQ(std::memcmp(wav.data() + 36, "data", 4), 0);
    EXPECT_EQ(le32_at(wav, 40), wav.size() - 44);
    EXPECT_EQ((wav.size() - 44) % static_cast<size_t>(channels * 2), 0U);
}

void expect_same_verdict(const Verdict &actual, const Verdict &expected) {
    EXPECT_EQ(actual.result, expected.result);
    EXPECT_EQ(actual.state, expected.state);
    ASSERT_EQ(actual.slots.size(), expected.slots.size());
    for (size_t i = 0; i < expected.slots.size(); ++i) {
        SCOPED_TRACE(expected.slots[i].name);
        EXPECT_EQ(actual.slots[i].name, expected.slots[i].name);
        EXPECT_EQ(actual.slots[i].state, expected.slots[i].state);
        EXPECT_EQ(std::memcmp(&actual.slots[i].value, &expected.slots[i].value, sizeof(double)), 0)
            << actual.slots[i].value << " vs " << expected.slots[i].value;
        EXPECT_EQ(actual.slots[i].text, expected.slots[i].text);
    }
}

class ConvertJudged : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session_.created()); }
    Verdict judge(const Bytes &wav) { return session_.judge(wav); }
    JudgingSession session_{kConfiguration};
};

// ---------------------------------------------------------------------------------------------
// Integer PCM WAV is never converted: the caller judges its own bytes.

// A RIFF/WAVE with the given chunks after "WAVE", each given whole (identifier, size, payload).
Bytes riff(const Bytes &chunks) {
    // Sized once and filled in place: GCC 12 at -O3 misreads an insert after a 12-byte
    // initializer as a read past it (-Warray-bounds).
    static constexpr unsigned char kHeader[] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    Bytes out(sizeof kHeader + chunks.size());
    std::copy(std::begin(kHeader), std::end(kHeader), out.begin());
    std::copy(chunks.begin(), chunks.end(), out.begin() + sizeof kHeader);
    set_le32(out, 4, static_cast<uint32_t>(out.size() - 8));
    return out;
}

TEST(ConvertIntegerPcmWav, IsJudgedAsItIsWhateverItsDepthOrLayout) {
    const Bytes speech = read_bytes(kSpeech);
    ASSERT_EQ(speech.size(), 44330U);
    const Pcm pcm = read_pcm(kSpeech);

    // The speech with an odd-sized 'LIST' chunk (and its pad byte) in front of 'fmt '.
    Bytes listed(speech.begin() + 12, speech.end());
    const Bytes list = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    listed.insert(listed.begin(), list.begin(), list.end());
    listed = riff(listed);

    const Bytes extensible = encode(pcm, SF_FORMAT_WAVEX | SF_FORMAT_PCM_16);
    ASSERT_EQ(le16_at(extensible, 20), 0xFFFE);

    struct Case {
        const char *name;
        Bytes content;
        const char *source_format;
        bool integer_pcm;
    } cases[] = {
        {"16-bit", speech, "WAV PCM 16-bit", true},
        {"8-bit", read_bytes(kRoot + "/samples/depth_8bit_8000_mono.wav"), "WAV PCM 8-bit", true},
        {"24-bit", encode(pcm, SF_FORMAT_WAV | SF_FORMAT_PCM_24), "WAV PCM 24-bit", true},
        {"32-bit", encode(pcm, SF_FORMAT_WAV | SF_FORMAT_PCM_32), "WAV PCM 32-bit", true},
        {"extensible PCM", extensible, "WAV PCM 16-bit", true},
        {"chunk before fmt", listed, "WAV PCM 16-bit", true},
        // No readable 'fmt ': libsonara gives the header its own verdict, decoding or not.
        {"no fmt chunk", riff({'d', 'a', 't', 'a', 2, 0, 0, 0, 1, 2}), "WAV", false},
        {"fmt cut short", Bytes(speech.begin(), speech.begin() + 30), "WAV", false},
        // Nothing at all: libsonara's own answer for an empty content stands.
        {"empty", {}, "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Conversion conversion(c.content);
        EXPECT_EQ(conversion.code, SONARA_CONVERT_AS_IS);
        EXPECT_FALSE(conversion.record.converted);
        EXPECT_EQ(conversion.record.wav, nullptr);
        EXPECT_EQ(conversion.record.wav_size, 0U);
        EXPECT_STREQ(conversion.record.source_format, c.source_format);
        EXPECT_STREQ(conversion.record.error, "");
        EXPECT_EQ(sonara_convert_is_integer_pcm_wav(c.content.data(), c.content.size()), c.integer_pcm);
    }
}

// A 16-byte 'fmt ' chunk.
Bytes fmt_chunk(uint16_t format_code, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes chunk = {'f', 'm', 't', ' ', 16, 0, 0, 0};
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    const uint32_t fields[] = {format_code, channels, rate, rate * align, align, bits};
    const int widths[] = {2, 2, 4, 4, 2, 2};
    for (int f = 0; f < 6; ++f) {
        for (int i = 0; i < widths[f]; ++i) chunk.push_back(static_cast<unsigned char>(fields[f] >> (8 * i)));
    }
    return chunk;
}

// libsonara reads the last 'fmt ' chunk before 'data'; what is judged as it is, and what it is
// called, follow that reading, not the first chunk's.
TEST(ConvertIntegerPcmWav, TheLastFmtChunkDecidesAsTheLibraryReadsIt) {
    Bytes data = {'d', 'a', 't', 'a', 0, 2, 0, 0};
    data.resize(8 + 512, 0x10);
    const Bytes pcm = fmt_chunk(1, 1, 8000, 16), flt = fmt_chunk(3, 1, 8000, 32);

    Bytes float_then_pcm = flt;
    float_then_pcm.insert(float_then_pcm.end(), pcm.begin(), pcm.end());
    float_then_pcm.insert(float_then_pcm.end(), data.begin(), data.end());
    float_then_pcm = riff(float_then_pcm);
    Conversion as_is(float_then_pcm);
    EXPECT_EQ(as_is.code, SONARA_CONVERT_AS_IS);
    EXPECT_STREQ(as_is.record.source_format, "WAV PCM 16-bit");
    EXPECT_TRUE(sonara_convert_is_integer_pcm_wav(float_then_pcm.data(), float_then_pcm.size()));

    // A PCM chunk followed by a float one is float to libsonara: decoded, and named so even when
    // libsndfile refuses the file.
    Bytes pcm_then_float = pcm;
    pcm_then_float.insert(pcm_then_float.end(), flt.begin(), flt.end());
    pcm_then_float.insert(pcm_then_float.end(), data.begin(), data.end());
    pcm_then_float = riff(pcm_then_float);
    EXPECT_FALSE(sonara_convert_is_integer_pcm_wav(pcm_then_float.data(), pcm_then_float.size()));
    Conversion decoded(pcm_then_float);
    EXPECT_LT(decoded.code, 0);
    EXPECT_FALSE(decoded.record.converted);
    EXPECT_STREQ(decoded.record.source_format, "WAV float 32-bit");
    EXPECT_STRNE(decoded.record.error, "");
}

// ---------------------------------------------------------------------------------------------
// Everything else is decoded to canonical 16-bit PCM at its own rate and channel count.

struct Encoding {
    const char *source_format;
    int format;
};

const Encoding kLossless[] = {
    {"FLAC 16-bit", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    {"FLAC 24-bit", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
    {"WAV float 32-bit", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
    {"WAV float 32-bit", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT},  // 0xFFFE with the float GUID
    {"WAV float 64-bit", SF_FORMAT_WAV | SF_FORMAT_DOUBLE},
};

const Encoding kLossy[] = {
    {"WAV A-law", SF_FORMAT_WAV | SF_FORMAT_ALAW},
    {"WAV \xC2\xB5-law", SF_FORMAT_WAV | SF_FORMAT_ULAW},
    {"WAV IMA ADPCM", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM},
    {"WAV GSM 6.10", SF_FORMAT_WAV | SF_FORMAT_GSM610},
    {"Ogg Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    {"Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
    {"MP3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
};

// Lossless: FLAC keeps the 16-bit samples; libsndfile writes them into 24-bit FLAC shifted left
// by 8 bits (x * 256); a float file holds x / 32768, which binary floating point (float or
// double) represents exactly for every 16-bit x. Decoding reads each on the normalised scale,
// again exactly (x * 256 / 2^23 = x / 32768), and multiplies by 32768, an exact power of two:
// the original samples come back bit for bit, and the converted file is the original's bytes.
TEST_F(ConvertJudged, LosslessEncodingsGiveExactlyTheSixteenBitResults) {
    for (const std::string &source : {kSpeech, kStereo, kWide}) {
        const Bytes original = read_bytes(source);
        const Pcm pcm = read_pcm(source);
        ASSERT_GT(pcm.frames(), 0U);
        const Verdict expected = judge(original);
        for (const Encoding &encoding : kLossless) {
            SCOPED_TRACE(source + ": " + encoding.source_format);
            const Bytes encoded = encode(pcm, encoding.format);
            ASSERT_FALSE(encoded.empty());
            Conversion conversion(encoded);
            ASSERT_EQ(conversion.code, SONARA_CONVERT_CONVERTED) << conversion.record.error;
            EXPECT_TRUE(conversion.record.converted);
            EXPECT_STREQ(conversion.record.source_format, encoding.source_format);
            EXPECT_TRUE(conversion.wav() == original);
            expect_same_verdict(judge(conversion.wav()), expected);
        }
    }
}

// How far a lossy encoding may move each value from the 16-bit original's, on clean speech at
// 8000 Hz (tests/convert/README figures, measured with convert_measure_tolerance, plus headroom).
struct Tolerance {
    double length_kib, duration_s, voice_s, overload, telephony_db, signal_noise_db;
};

Tolerance tolerance_of(const std::string &source_format) {
    if (source_format == "WAV A-law" || source_format == "WAV \xC2\xB5-law") return {0, 0, 0.02, 0.15, 0.1, 0.1};
    // libsndfile's own IMA ADPCM writer declares the padded length, so the padding stays.
    if (source_format == "WAV IMA ADPCM") return {1.0, 0.035, 0.04, 0.15, 0.1, 0.45};
    if (source_format == "WAV GSM 6.10") return {0, 0, 0.02, 0.1, 0.25, 0.25};
    if (source_format == "Ogg Vorbis") return {0, 0, 0.02, 0.15, 0.5, 0.15};
    if (source_format == "Opus") return {0, 0, 0.02, 0.15, 0.25, 0.25};
    return {0, 0, 0.15, 0.2, 0.4, 0.7};  // MP3
}

TEST_F(ConvertJudged, LossyEncodingsKeepTheStateOfCleanSpeechWithinTolerance) {
    const Pcm stereo = read_pcm(kStereo);
    const Pcm sources[] = {stereo, left_channel(stereo)};
    for (const Pcm &pcm : sources) {
        const Verdict expected = judge(encode(pcm, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
        ASSERT_EQ(expected.state, STATE_OK);
        for (const Encoding &encoding : kLossy) {
            // GSM 6.10 is mono only.
            if (pcm.channels > 1 && (encoding.format & SF_FORMAT_SUBMASK) == SF_FORMAT_GSM610) continue;
            SCOPED_TRACE(std::to_string(pcm.channels) + " channel(s): " + encoding.source_format);
            const Bytes encoded = encode(pcm, encoding.format);
            ASSERT_FALSE(encoded.empty());
            Conversion conversion(encoded);
            ASSERT_EQ(conversion.code, SONARA_CONVERT_CONVERTED) << conversion.record.error;
            EXPECT_STREQ(conversion.record.source_format, encoding.source_format);
            expect_canonical_header(conversion.wav(), pcm.sample_rate, pcm.channels);

            const Verdict actual = judge(conversion.wav());
            EXPECT_EQ(actual.state, expected.state);
            EXPECT_EQ(actual.result, expected.result);
            ASSERT_EQ(actual.slots.size(), expected.slots.size());
            const Tolerance tolerance = tolerance_of(encoding.source_format);
            const std::pair<const char *, double> limits[] = {
                {"length", tolerance.length_kib},     {"duration", tolerance.duration_s},
                {"voice_duration", tolerance.voice_s}, {"overload", tolerance.overload},
                {"telephony_border", tolerance.telephony_db}, {"signal_noise", tolerance.signal_noise_db},
                {"sample_rate", 0}, {"channels", 0}, {"depth", 0}};
            for (const auto &[name, limit] : limits) {
                SCOPED_TRACE(name);
                ASSERT_NE(actual.slot(name), nullptr);
                EXPECT_EQ(actual.slot(name)->state, expected.slot(name)->state);
                EXPECT_LE(std::fabs(actual.slot(name)->value - expected.slot(name)->value), limit)
                    << actual.slot(name)->value << " vs " << expected.slot(name)->value;
            }
        }
    }
}

// A float file above full scale reads as clipped, not wrapped: every sample is the 16-bit value
// saturated, and the overload check fails where the same speech at its own level passes.
TEST_F(ConvertJudged, FloatAboveFullScaleReadsAsClipped) {
    const Pcm pcm = read_pcm(kStereo);
    const double gain = 4.0;  // the speech peaks at -6 dBFS: +6 dBFS after the gain

    Conversion level(encode(pcm, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1.0));
    ASSERT_EQ(level.code, SONARA_CONVERT_CONVERTED) << level.record.error;
    const Verdict passing = judge(level.wav());
    EXPECT_EQ(passing.state, STATE_OK);

    for (int format : {SF_FORMAT_WAV | SF_FORMAT_FLOAT, SF_FORMAT_WAV | SF_FORMAT_DOUBLE}) {
        SCOPED_TRACE(format);
        Conversion loud(encode(pcm, format, gain));
        ASSERT_EQ(loud.code, SONARA_CONVERT_CONVERTED) << loud.record.error;
        const std::vector<short> samples = loud.samples();
        ASSERT_EQ(samples.size(), pcm.samples.size());
        size_t saturated = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            const double scaled = std::clamp(pcm.samples[i] * gain, -32768.0, 32767.0);
            ASSERT_EQ(samples[i], static_cast<short>(scaled)) << "sample " << i;
            if (scaled == 32767.0 || scaled == -32768.0) ++saturated;
        }
        EXPECT_GT(saturated, 100U);
        const Verdict clipped = judge(loud.wav());
        EXPECT_EQ(clipped.state, STATE_OVERLOAD_BORDER_FAILED);
        EXPECT_EQ(clipped.slot("overload")->state, SESSION_VALUE_FAILED);
        EXPECT_GT(clipped.slot("overload")->value, passing.slot("overload")->value);
    }
}

// GSM 6.10 and ADPCM pad their last block; libsndfile decodes the padding of a GSM file as a
// burst at full scale, which alone fails the overload check. The 'fact' chunk's length cuts it.
TEST_F(ConvertJudged, BlockPaddingEndsAtTheFactLength) {
    const Pcm mono = left_channel(read_pcm(kStereo));
    ASSERT_EQ(mono.frames() % 320, 0U);  // whole GSM blocks: the padding is one full block
    const Bytes gsm = encode(mono, SF_FORMAT_WAV | SF_FORMAT_GSM610);
    Conversion conversion(gsm);
    ASSERT_EQ(conversion.code, SONARA_CONVERT_CONVERTED) << conversion.record.error;
    EXPECT_EQ(conversion.record.wav_size, 44 + mono.samples.size() * 2);
    const std::vector<short> samples = conversion.samples();
    EXPECT_EQ(std::count(samples.begin(), samples.end(), static_cast<short>(-32768)), 0);
    EXPECT_EQ(judge(conversion.wav()).slot("overload")->state, SESSION_VALUE_PASSED);

    // A 'fact' length more than one block short is not believed: decoding runs to the end.
    Bytes understated = gsm;
    const size_t fact = std::search(understated.begin(), understated.end(), "fact", "fact" + 4) - understated.begin();
    ASSERT_LT(fact + 12, understated.size());
    set_le32(understated, fact + 8, static_cast<uint32_t>(mono.frames() / 2));
    Conversion whole(understated);
    ASSERT_EQ(whole.code, SONARA_CONVERT_CONVERTED);
    EXPECT_GT(whole.record.wav_size, 44 + mono.samples.size() * 2);
}

// ---------------------------------------------------------------------------------------------
// Files libsndfile cannot read, and the size guards.

TEST(ConvertUnreadable, CorruptFlacAndNonAudioGiveLibsndfilesText) {
    const Bytes flac = encode(read_pcm(kStereo), SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    ASSERT_GT(flac.size(), 10000U);
    Bytes scrambled = flac;
    for (size_t i = flac.size() / 3; i < flac.size() / 3 + 2000; ++i) scrambled[i] ^= 0x5A;
    Bytes bad_streaminfo = flac;
    std::fill(bad_streaminfo.begin() + 8, bad_streaminfo.begin() + 42, 0xFF);
    Bytes no_magic = flac;
    no_magic[0] = 'x';
    Bytes junk(300);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<unsigned char>(i * 37 + 11);
    // A WAV whose samples are float, cut inside its 'fmt ' chunk's declared extension.
    const Bytes float_wav = encode(read_pcm(kSpeech), SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    struct Case {
        const char *name;
        Bytes content;
        const char *error;
    } cases[] = {
        // libFLAC skips the scrambled frames without an error; the count shows the damage.
        {"frames scrambled", scrambled, "damaged FLAC: the stream ends after 4096 of the 24000 frames its header declares"},
        {"cut in half", Bytes(flac.begin(), flac.begin() + flac.size() / 2), "libsndfile: Error : flac decoder lost sync."},
        {"streaminfo damaged", bad_streaminfo, "libsndfile: File contains data in an unimplemented format."},
        {"header only", Bytes(flac.begin(), flac.begin() + 50), "libsndfile: Error : unknown error in flac decoder."},
        {"magic damaged", no_magic, "libsndfile: Format not recognised."},
        {"not audio", junk, "libsndfile: Format not recognised."},
        {"float WAV without data", Bytes(float_wav.begin(), float_wav.begin() + 36), nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Conversion conversion(c.content);
        EXPECT_EQ(conversion.code, SONARA_CONVERT_UNREADABLE);
        EXPECT_FALSE(conversion.record.converted);
        EXPECT_EQ(conversion.record.wav, nullptr);
        EXPECT_EQ(conversion.record.wav_size, 0U);
        if (c.error != nullptr) {
            EXPECT_STREQ(conversion.record.error, c.error);
        } else {
            EXPECT_EQ(std::string(conversion.record.error).rfind("libsndfile: ", 0), 0U) << conversion.record.error;
        }
    }
}

// A failed open leaves its text in libsndfile's one process-wide error; conversions on several
// threads each report their own file's.
TEST(ConvertUnreadable, EachThreadGetsItsOwnFilesError) {
    const Bytes flac = encode(read_pcm(kSpeech), SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    Bytes no_magic = flac;
    no_magic[0] = 'x';
    Bytes bad_streaminfo = flac;
    std::fill(bad_streaminfo.begin() + 8, bad_streaminfo.begin() + 42, 0xFF);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const Bytes &content = t % 2 == 0 ? no_magic : bad_streaminfo;
            const char *expected = t % 2 == 0 ? "libsndfile: Format not recognised."
                                              : "libsndfile: File contains data in an unimplemented format.";
            for (int i = 0; i < 200; ++i) {
                Conversion conversion(content);
                if (conversion.code != SONARA_CONVERT_UNREADABLE || std::strcmp(conversion.record.error, expected) != 0) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ConvertLimits, TheDecodedWavStaysWithinTheCallersBound) {
    const Pcm pcm = read_pcm(kStereo);
    const Bytes flac = encode(pcm, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const size_t exact = 44 + pcm.samples.size() * 2;

    Conversion at_bound(flac, exact);
    EXPECT_EQ(at_bound.code, SONARA_CONVERT_CONVERTED) << at_bound.record.error;
    EXPECT_EQ(at_bound.record.wav_size, exact);

    for (size_t bound : {exact - 1, exact - 4, size_t{1000}, size_t{44}, size_t{43}, size_t{1}}) {
        SCOPED_TRACE(bound);
        Conversion over(flac, bound);
        EXPECT_EQ(over.code, SONARA_CONVERT_TOO_LARGE);
        EXPECT_EQ(over.record.wav, nullptr);
        EXPECT_EQ(over.record.wav_size, 0U);
        EXPECT_NE(std::string(over.record.error).find("limit"), std::string::npos) << over.record.error;
    }

    // A FLAC header claiming 2^36 - 1 frames (128 GiB of 16-bit stereo): the claim sizes no
    // buffer; decoding finds the real frames and the damage.
    Bytes claiming = flac;
    ASSERT_EQ(std::memcmp(claiming.data(), "fLaC", 4), 0);
    claiming[21] = static_cast<unsigned char>(claiming[21] | 0x0F);
    std::fill(claiming.begin() + 22, claiming.begin() + 26, 0xFF);
    Conversion absurd(claiming);
    EXPECT_EQ(absurd.code, SONARA_CONVERT_UNREADABLE);
    EXPECT_STREQ(absurd.record.error,
                 ("damaged FLAC: the stream ends after " + std::to_string(pcm.frames()) +
                  " of the 68719476735 frames its header declares").c_str());

    // A float WAV whose 'data' chunk claims 4 GiB: only the frames present are decoded.
    Bytes oversized = encode(read_pcm(kSpeech), SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const size_t data = std::search(oversized.begin(), oversized.end(), "data", "data" + 4) - oversized.begin();
    ASSERT_LT(data + 8, oversized.size());
    const size_t present = (oversized.size() - data - 8) / 4;
    set_le32(oversized, data + 4, 0xFFFFFFF0U);
    Conversion trusting(oversized);
    ASSERT_EQ(trusting.code, SONARA_CONVERT_CONVERTED) << trusting.record.error;
    EXPECT_EQ(trusting.record.wav_size, 44 + present * 2);
}

TEST(ConvertArguments, NullPointersAreRefused) {
    EXPECT_EQ(sonara_convert(nullptr, 0, 0, nullptr), SONARA_CONVERT_BAD_ARGUMENT);
    SonaraConversion record{};
    EXPECT_EQ(sonara_convert(nullptr, 10, 0, &record), SONARA_CONVERT_BAD_ARGUMENT);
    EXPECT_STRNE(record.error, "");
    EXPECT_EQ(record.wav, nullptr);
    EXPECT_FALSE(sonara_convert_is_integer_pcm_wav(nullptr, 100));
    sonara_conversion_free(&record);
    sonara_conversion_free(nullptr);
}

}  // namespace
}  // namespace convert_test
