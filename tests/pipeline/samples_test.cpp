// The recordings of samples/ through the default configuration: each gets its documented
// verdict, and two sessions checking on two threads at once agree with one after the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "pipeline_support.h"

namespace pipeline_test {
namespace {

const std::string kSamples = SONARA_SOURCE_DIR "/samples";
const std::string kConfiguration = SONARA_SOURCE_DIR "/config/cv_configuration.json";
const std::string kVerdicts = SONARA_SOURCE_DIR "/tests/pipeline/sample_verdicts.txt";

struct Verdict {
    int32_t state;
    std::string failing_slot;  // "-" when none
};

std::map<std::string, Verdict> verdicts() {
    std::map<std::string, Verdict> table;
    std::ifstream in(kVerdicts);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string file;
        Verdict verdict{};
        if (fields >> file >> verdict.state >> verdict.failing_slot) table[file] = verdict;
    }
    return table;
}

std::vector<std::string> sample_files() {
    std::vector<std::string> files;
    for (const auto &entry : std::filesystem::directory_iterator(kSamples)) {
        if (entry.path().extension() == ".wav") files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A session on the default configuration file.
class FileSession : public test_support::OwnedSession {
public:
    FileSession() { created_ = v_create_session(&session_, kConfiguration.c_str()); }
};

TEST(SampleRecordings, EachGetsItsDocumentedVerdict) {
    const std::map<std::string, Verdict> table = verdicts();
    const std::vector<std::string> files = sample_files();
    ASSERT_FALSE(files.empty());
    // Every recording has a verdict, and every verdict a recording.
    EXPECT_EQ(files.size(), table.size());

    FileSession live;
    ASSERT_TRUE(live.created());
    Session &session = live.record();
    for (const std::string &file : files) {
        SCOPED_TRACE(file);
        const auto verdict = table.find(file);
        ASSERT_NE(verdict, table.end()) << "no verdict in " << kVerdicts;
        const Bytes content = read_bytes(kSamples + "/" + file);
        ASSERT_FALSE(content.empty());

        EXPECT_EQ(v_check(&session, content.data(), content.size()), verdict->second.state == 0);
        EXPECT_EQ(session.state, verdict->second.state) << slot_states(session);
        std::set<std::string> failed;
        for (const std::string &name : slot_names()) {
            if (slot(session, name)->state == SESSION_VALUE_FAILED) failed.insert(name);
        }
        const std::set<std::string> expected =
            verdict->second.failing_slot == "-" ? std::set<std::string>{}
                                                : std::set<std::string>{verdict->second.failing_slot};
        EXPECT_EQ(failed, expected) << slot_states(session);
        if (verdict->second.state == 0) {
            // A passing recording went through every measurement of the default configuration.
            for (const std::string &name : slot_names()) EXPECT_EQ(slot(session, name)->state, 1) << name;
        }
    }
}

// What a check leaves behind, compared bit for bit (not-a-number equal to itself).
struct Snapshot {
    int32_t state = -1;
    std::vector<int32_t> slot_states;
    std::vector<uint64_t> slot_bits;
    std::vector<std::string> texts;
    bool operator==(const Snapshot &) const = default;
};

Snapshot snapshot(Session &session) {
    Snapshot taken;
    taken.state = session.state;
    for (const std::string &name : slot_names()) {
        const SessionValue *value = slot(session, name);
        uint64_t bits = 0;
        std::memcpy(&bits, &value->value, sizeof bits);
        taken.slot_states.push_back(value->state);
        taken.slot_bits.push_back(bits);
        taken.texts.push_back(value->text != nullptr ? value->text : "");
    }
    return taken;
}

TEST(SampleRecordings, TwoSessionsOnTwoThreadsMatchOneAfterTheOther) {
    const Bytes first = read_bytes(kSamples + "/clean_16000_mono.wav");
    const Bytes second = read_bytes(kSamples + "/noisy_right_channel_8000_stereo.wav");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());

    FileSession one;
    FileSession two;
    ASSERT_TRUE(one.created());
    ASSERT_TRUE(two.created());
    v_check(&one.record(), first.data(), first.size());
    const Snapshot alone_first = snapshot(one.record());
    v_check(&two.record(), second.data(), second.size());
    const Snapshot alone_second = snapshot(two.record());
    ASSERT_NE(alone_first, alone_second);  // the comparison below can tell the files apart

    constexpr int kRounds = 3;
    std::vector<Snapshot> seen_first(kRounds);
    std::vector<Snapshot> seen_second(kRounds);
    std::thread a([&] {
        for (int i = 0; i < kRounds; ++i) {
            v_check(&one.record(), first.data(), first.size());
            seen_first[i] = snapshot(one.record());
        }
    });
    std::thread b([&] {
        for (int i = 0; i < kRounds; ++i) {
            v_check(&two.record(), second.data(), second.size());
            seen_second[i] = snapshot(two.record());
        }
    });
    a.join();
    b.join();
    for (int i = 0; i < kRounds; ++i) {
        EXPECT_EQ(seen_first[i], alone_first) << "round " << i;
        EXPECT_EQ(seen_second[i], alone_second) << "round " << i;
    }
}

}  // namespace
}  // namespace pipeline_test
