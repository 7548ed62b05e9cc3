// v_check_reader and v_check_fd against v_check and v_check_all on the same bytes: every
// byte-built case, the sample recordings and hostile headers leave the same result, state, slots
// (doubles bit for bit) and log lines. A file that ends early or fails to read is an error, and a
// chunk the header walk skips is never read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "pipeline_outcomes.h"
#include "support/memory_reader.h"
#include "wav_builder.h"

namespace pipeline_test {
namespace {

using test_support::MemoryReader;

// Everything a caller or the log can see after one check.
struct Seen {
    bool result = false;
    int32_t state = -1;
    std::vector<std::string> slots;  // name, enable, state, value bits and text of each slot
    std::string log;
    bool operator==(const Seen &) const = default;
};

std::string describe(const SessionValue &value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value.value, sizeof bits);
    return std::string(value.name != nullptr ? value.name : "?") + " enable=" +
           std::to_string(value.enable) + " state=" + std::to_string(value.state) + " bits=" +
           std::to_string(bits) + " text=" + (value.text != nullptr ? value.text : "<null>");
}

Seen seen(Session &session, bool result, const LogCapture &log) {
    Seen out{result, session.state, {}, log.text()};
    SessionValue *first = nullptr;
    if (v_result_session(&session, &first)) {
        for (const SessionValue *value = first; value != nullptr; value = value->next) {
            out.slots.push_back(describe(*value));
        }
    }
    return out;
}

std::string print(const Seen &s) {
    std::string text = "result=" + std::to_string(s.result) + " state=" + std::to_string(s.state) + "\n";
    for (const std::string &slot : s.slots) text += "  " + slot + "\n";
    return text + s.log;
}

// A temporary file holding bytes, removed with the object.
class TempFile {
public:
    explicit TempFile(const Bytes &bytes) {
        char name[] = "/tmp/sonara_reader_XXXXXX";
        fd_ = mkstemp(name);
        path_ = name;
        if (fd_ >= 0 && !bytes.empty()) {
            EXPECT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        }
    }
    ~TempFile() {
        if (fd_ >= 0) close(fd_);
        unlink(path_.c_str());
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    std::string path_;
};

// One content through the in-memory call, the reader (in pieces of `most` bytes) and the
// descriptor, each on the session in turn; all three must be indistinguishable.
void expect_same(Session &session, const Bytes &content, bool all, const std::string &label,
                 size_t most = 4093) {
    SCOPED_TRACE(label + (all ? " (all)" : ""));
    Seen memory;
    {
        LogCapture log;
        const bool result = all ? v_check_all(&session, content.data(), content.size())
                                : v_check(&session, content.data(), content.size());
        memory = seen(session, result, log);
    }
    Seen streamed;
    {
        MemoryReader reader(content, most);
        LogCapture log;
        const bool result = v_check_reader(&session, reader.get(), all);
        streamed = seen(session, result, log);
        EXPECT_EQ(reader.get()->error, 0);
        EXPECT_LE(reader.furthest_asked(), content.size()) << "asked past the file's size";
    }
    Seen descriptor;
    {
        TempFile file(content);
        ASSERT_GE(file.fd(), 0);
        int error = -1;
        LogCapture log;
        const bool result = v_check_fd(&session, file.fd(), all, &error);
        descriptor = seen(session, result, log);
        EXPECT_EQ(error, 0);
    }
    EXPECT_TRUE(streamed == memory) << "memory:\n" << print(memory) << "reader:\n" << print(streamed);
    EXPECT_TRUE(descriptor == memory) << "memory:\n" << print(memory) << "descriptor:\n" << print(descriptor);
}

// Limits every recording passes, so each measurement runs.
const std::string kPermissive = configuration({
    {"length", R"({ "min": 0, "max": 2000000000 })"},
    {"duration", R"({ "min": 0, "max": 1000000 })"},
    {"depth", R"({ "min": 0, "max": 64 })"},
    {"channels", R"({ "min": 0, "max": 64 })"},
    {"sample_rate", R"({ "min": 0, "max": 400000 })"},
    {"telephony_border", R"({ "value": -100000 })"},
    {"overload_border", R"({ "value": 2.0 })"},
    {"signal_noise", R"({ "value": -100000 })"},
    {"voice_duration", R"({ "value": -1.0 })"},
});

TEST(ReaderCheck, ByteBuiltCasesMatchBothInMemoryCalls) {
    for (const Outcome &row : outcomes()) {
        if (row.call != Call::check) continue;
        CheckedSession session(configuration(row.overrides));
        ASSERT_TRUE(session.created());
        for (const bool all : {false, true}) expect_same(session.record(), row.content, all, row.what);
    }
}

TEST(ReaderCheck, SampleRecordingsMatchBothInMemoryCalls) {
    const std::string directory = std::string(SONARA_SOURCE_DIR) + "/samples";
    size_t checked = 0;
    const Bytes defaults = read_bytes(std::string(SONARA_SOURCE_DIR) + "/config/cv_configuration.json");
    for (const std::string &text : {std::string(defaults.begin(), defaults.end()), kPermissive}) {
        CheckedSession session(text);
        ASSERT_TRUE(session.created());
        v_dbg_set_property(&session.record(), "processing_sound_name", "sample.wav");
        for (const auto &entry : std::filesystem::directory_iterator(directory)) {
            if (entry.path().extension() != ".wav") continue;
            for (const bool all : {false, true}) {
                expect_same(session.record(), read_bytes(entry.path()), all, entry.path().filename());
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 10u);
}

// Headers a hostile or broken writer makes, each against the in-memory calls; the reader answers
// in pieces of 1, 7 and 65,521 bytes.
TEST(ReaderCheck, HostileHeadersMatchBothInMemoryCalls) {
    using wav::chunk;
    using wav::data_chunk;
    using wav::fmt_chunk;
    using wav::riff;
    using wav::operator+;
    const wav::Format mono{};
    wav::Format stereo;
    stereo.channels = 2;
    wav::Format deep_in_short_frames;  // 24-bit samples in 2-byte frames: a channel's bytes overlap the next frame
    deep_in_short_frames.bits_per_sample = 24;
    deep_in_short_frames.block_align = 2;
    wav::Format channels_past_frame;  // three channels in a 4-byte frame: the third reads the next frame
    channels_past_frame.channels = 3;
    channels_past_frame.block_align = 4;
    wav::Format widest_frame;
    widest_frame.block_align = 65535;
    wav::Format at_8000;
    at_8000.sample_rate = 8000;
    const Bytes speech = pcm16(16000 * 2, 1, [](size_t i, unsigned) {
        return static_cast<int16_t>((i / 400) % 3 == 0 ? 9000.0 * std::sin(i * 0.3) : 40.0 * std::sin(i * 1.7));
    });
    const Bytes stereo_speech = pcm16(16000 * 2, 2, [](size_t i, unsigned c) {
        return static_cast<int16_t>((i / 400) % 3 == c ? 9000.0 * std::sin(i * 0.3) : 30.0 * std::sin(i * 1.1));
    });
    // Thousands of one-byte chunks with their pad bytes: the header window refills and grows.
    Bytes many_chunks;
    for (int i = 0; i < 20000; ++i) {
        const Bytes one = chunk("junk", Bytes{1});
        many_chunks.insert(many_chunks.end(), one.begin(), one.end());
        many_chunks.push_back(0);
    }
    const Bytes plain_file = wav::pcm16_file(mono, speech);
    const Bytes odd_payload(speech.begin(), speech.end() - 1);

    struct Row {
        const char *label;
        Bytes content;
    };
    const Row rows[] = {
        {"plain", plain_file},
        {"stereo", wav::pcm16_file(stereo, stereo_speech)},
        {"at_8000", wav::pcm16_file(at_8000, speech)},
        {"odd_payload", riff({fmt_chunk(mono), data_chunk(odd_payload)})},
        {"deep_samples_in_short_frames", riff({fmt_chunk(deep_in_short_frames), data_chunk(speech)})},
        // The last sample is the payload's last byte alone, and the histogram sees it.
        {"last_sample_one_byte", riff({fmt_chunk(deep_in_short_frames), data_chunk(Bytes(80, 0x10))})},
        {"channels_past_their_frame", riff({fmt_chunk(channels_past_frame), data_chunk(speech)})},
        {"widest_frame", riff({fmt_chunk(widest_frame), data_chunk(Bytes(65535 * 40, 3))})},
        {"fmt_across_the_first_block", riff({chunk("LIST", Bytes(4070, 'l')), fmt_chunk(mono), data_chunk(speech)})},
        {"many_small_chunks", riff({fmt_chunk(mono)}) + many_chunks + data_chunk(speech)},
        {"second_fmt_wins", riff({fmt_chunk(stereo), fmt_chunk(mono), data_chunk(speech)})},
        {"fmt18_extension_skips_a_chunk",
         riff({fmt_chunk(mono, 18, Bytes{8, 0}), fmt_chunk(stereo), data_chunk(speech)})},
        {"odd_chunk_without_pad", riff({fmt_chunk(mono), chunk("LIST", Bytes{1, 2, 3}), data_chunk(speech)})},
        {"data_past_end", riff({fmt_chunk(mono), data_chunk(speech, 1 << 30)})},
        {"data_size_all_ones", riff({fmt_chunk(mono), data_chunk(speech, 0xFFFFFFFF)})},
        {"unknown_chunk_past_end", riff({fmt_chunk(mono), chunk("junk", Bytes{1, 2}, 0xFFFFFFF0)})},
        {"fmt_cut", Bytes(plain_file.begin(), plain_file.begin() + 30)},
        {"fmt_size_all_ones", riff({fmt_chunk(mono, 0xFFFFFFFF), data_chunk(speech)})},
        {"no_fmt", riff({data_chunk(speech)})},
        {"not_riff", Bytes(600, 'x')},
        {"eleven_bytes", Bytes(11, 'R')},
        {"one_byte", Bytes{'R'}},
    };
    CheckedSession session(kPermissive);
    ASSERT_TRUE(session.created());
    v_dbg_set_property(&session.record(), "processing_sound_name", "hostile.wav");
    for (const Row &row : rows) {
        for (const size_t most : {size_t{1}, size_t{7}, size_t{65521}}) {
            // One byte a call is slow on a long payload; the header is what it is for.
            if (most < 8 && row.content.size() > 400000) continue;
            for (const bool all : {false, true}) {
                expect_same(session.record(), row.content, all,
                            std::string(row.label) + " in pieces of " + std::to_string(most), most);
            }
        }
    }
}

// A chunk before 'data' is skipped by its offset: of a 64 MiB chunk nothing is read, and the
// answer is v_check's.
TEST(ReaderCheck, SkippedChunkIsNeverRead) {
    const wav::Format mono{};
    const Bytes speech = pcm16(16000 * 3, 1, [](size_t i, unsigned) {
        return static_cast<int16_t>(6000.0 * std::sin(i * 0.05) * ((i / 800) % 2));
    });
    const Bytes content =
        wav::riff({wav::fmt_chunk(mono), wav::chunk("JUNK", Bytes(64u << 20, 0)), wav::data_chunk(speech)});
    CheckedSession session(kPermissive);
    ASSERT_TRUE(session.created());
    LogCapture quiet;
    const bool expected = v_check(&session.record(), content.data(), content.size());
    const std::string expected_states = slot_states(session.record());
    MemoryReader reader(content);
    EXPECT_EQ(v_check_reader(&session.record(), reader.get(), false), expected);
    EXPECT_EQ(slot_states(session.record()), expected_states);
    EXPECT_EQ(reader.get()->error, 0);
    // The header blocks and the payload once per channel (the resampler reads some frames twice).
    EXPECT_LT(reader.bytes_served(), 2 * speech.size() + (256u << 10)) << reader.bytes_served();
}

// A sparse file of 5 GiB, most of it one chunk before 'data', through a descriptor: far past
// anything v_check could be handed here, and read in a few blocks.
TEST(ReaderCheck, DescriptorOverASparseFileBeyondFourGibibytes) {
    const wav::Format mono{};
    const Bytes speech = pcm16(16000 * 3, 1, [](size_t i, unsigned) {
        return static_cast<int16_t>(6000.0 * std::sin(i * 0.05) * ((i / 800) % 2));
    });
    // RIFF sizes are 32-bit: a 'JUNK' chunk of 4 GiB - 2 and another of 1 GiB, then 'data'.
    const uint64_t first_junk = 0xFFFFFFFEu;
    const uint64_t second_junk = uint64_t{1} << 30;
    Bytes head = wav::riff({wav::fmt_chunk(mono)});
    test_support::put_fourcc(head, "JUNK");
    test_support::put_le32(head, static_cast<uint32_t>(first_junk));
    Bytes middle;
    test_support::put_fourcc(middle, "JUNK");
    test_support::put_le32(middle, static_cast<uint32_t>(second_junk));
    const Bytes tail = wav::data_chunk(speech);
    const uint64_t middle_at = head.size() + first_junk;
    const uint64_t tail_at = middle_at + middle.size() + second_junk;

    TempFile file(head);
    ASSERT_GE(file.fd(), 0);
    ASSERT_EQ(pwrite(file.fd(), middle.data(), middle.size(), static_cast<off_t>(middle_at)),
              static_cast<ssize_t>(middle.size()));
    ASSERT_EQ(pwrite(file.fd(), tail.data(), tail.size(), static_cast<off_t>(tail_at)),
              static_cast<ssize_t>(tail.size()));

    CheckedSession session(kPermissive);
    ASSERT_TRUE(session.created());
    LogCapture quiet;
    int error = -1;
    EXPECT_TRUE(v_check_fd(&session.record(), file.fd(), false, &error)) << slot_states(session.record());
    EXPECT_EQ(error, 0);
    EXPECT_EQ(slot(session.record(), "length")->value, static_cast<double>(tail_at + tail.size()) / 1024.0);
    EXPECT_DOUBLE_EQ(slot(session.record(), "duration")->value, 3.0);

    // The same bytes in memory, minus the two gaps, give the same measured values.
    const Bytes packed = wav::riff({wav::fmt_chunk(mono), wav::data_chunk(speech)});
    CheckedSession reference(kPermissive);
    ASSERT_TRUE(reference.created());
    EXPECT_TRUE(reference.check(packed));
    for (const char *name : {"telephony_border", "overload", "signal_noise", "voice_duration"}) {
        EXPECT_EQ(slot(session.record(), name)->value, slot(reference.record(), name)->value) << name;
    }
}

// A file that ends before its size (it shrank) or fails to read, at every stage of the check:
// false, the reader's error set, state 103 and one line that says where; never a read past what
// the reader answered (the sanitizer build watches), and the session checks the next file.
TEST(ReaderCheck, ShortOrFailingReadsAreErrors) {
    wav::Format stereo;
    stereo.channels = 2;
    const Bytes content = wav::pcm16_file(stereo, pcm16(16000 * 3, 2, [](size_t i, unsigned c) {
        return static_cast<int16_t>(5000.0 * std::sin(i * (0.02 + 0.01 * c)));
    }));
    CheckedSession session(kPermissive);
    ASSERT_TRUE(session.created());
    const uint64_t cuts[] = {0, 4, 11, 12, 20, 36, 40, 44, 45, 1000, content.size() / 2, content.size() - 1};
    for (const bool all : {false, true}) {
        for (const uint64_t cut : cuts) {
            for (const int error : {0, EACCES}) {
                SCOPED_TRACE("at byte " + std::to_string(cut) + (error != 0 ? ", failing" : ", ending"));
                MemoryReader reader(content);
                if (error != 0) {
                    reader.fail_after(cut, error);
                } else {
                    reader.end_after(cut);
                }
                LogCapture log;
                EXPECT_FALSE(v_check_reader(&session.record(), reader.get(), all));
                EXPECT_EQ(reader.get()->error, error != 0 ? error : EIO);
                EXPECT_EQ(session.record().state, STATE_CONTENT_FAILED);
                EXPECT_TRUE(log.contains("[library] Reading the file failed at byte")) << log.text();
            }
        }
    }
    MemoryReader whole(content);
    EXPECT_TRUE(v_check_reader(&session.record(), whole.get(), false)) << slot_states(session.record());
    EXPECT_EQ(whole.get()->error, 0);
}

// A file on disk cut short between two reads: pread answers 0 where the size said there were
// bytes.
TEST(ReaderCheck, FileTruncatedWhileItIsRead) {
    const Bytes content = wav::pcm16_file(wav::Format{}, pcm16(16000 * 4, 1, [](size_t i, unsigned) {
        return static_cast<int16_t>(7000.0 * std::sin(i * 0.03));
    }));
    TempFile file(content);
    ASSERT_GE(file.fd(), 0);
    struct Shrinking {
        int fd;
        int reads = 0;
    } state{file.fd()};
    SonaraReader reader{};
    reader.user = &state;
    reader.size = content.size();
    reader.read_at = [](void *user, unsigned char *buffer, size_t size, uint64_t offset) -> int64_t {
        Shrinking &s = *static_cast<Shrinking *>(user);
        // The header is read; then the file loses its second half.
        if (++s.reads == 2 && ftruncate(s.fd, 44 + 16000 * 2) != 0) return -1;
        return pread(s.fd, buffer, size, static_cast<off_t>(offset));
    };
    CheckedSession session(kPermissive);
    ASSERT_TRUE(session.created());
    EXPECT_FALSE(v_check_reader(&session.record(), &reader, false));
    EXPECT_EQ(reader.error, EIO);
    EXPECT_EQ(session.record().state, STATE_CONTENT_FAILED);
}

TEST(ReaderCheck, MissingReadersAndDescriptors) {
    CheckedSession session(kPermissive);
    ASSERT_TRUE(session.created());
    const Bytes content = tone(Format{}, 2.5);
    ASSERT_TRUE(session.check(content));
    {
        // As a null buffer is to v_check: "Content failed", state 103.
        LogCapture log;
        EXPECT_FALSE(v_check_reader(&session.record(), nullptr, false));
        EXPECT_EQ(session.record().state, STATE_CONTENT_FAILED);
        EXPECT_TRUE(log.contains("[library] Content failed"));
    }
    SonaraReader no_function{};
    no_function.size = 100;
    EXPECT_FALSE(v_check_reader(&session.record(), &no_function, true));
    EXPECT_EQ(no_function.error, EINVAL);
    EXPECT_EQ(session.record().state, STATE_CONTENT_FAILED);
    {
        // An empty file is what a size of 0 is to v_check, not a read error.
        const Bytes empty;
        MemoryReader reader(empty);
        EXPECT_FALSE(v_check_reader(&session.record(), reader.get(), false));
        EXPECT_EQ(reader.get()->error, 0);
        EXPECT_EQ(session.record().state, STATE_CONTENT_FAILED);
    }
    int error = 0;
    EXPECT_FALSE(v_check_fd(&session.record(), -1, false, &error));
    EXPECT_EQ(error, EBADF);
    EXPECT_EQ(session.record().state, STATE_CONTENT_FAILED);
    // A reader needs a live session, as v_check does.
    MemoryReader reader(content);
    EXPECT_FALSE(v_check_reader(nullptr, reader.get(), false));
    EXPECT_FALSE(v_check_fd(nullptr, -1, false, nullptr));
    Session blank{};
    EXPECT_FALSE(v_check_reader(&blank, reader.get(), false));
    EXPECT_EQ(blank.state, STATE_BAD_SESSION);
    EXPECT_EQ(reader.bytes_served(), 0u);
}

}  // namespace
}  // namespace pipeline_test
