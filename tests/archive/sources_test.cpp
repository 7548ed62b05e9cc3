// Sources: every named or found path is one item, the walk has no depth limit, lists are read
// line by line or NUL by NUL.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "sources.h"

namespace {

namespace fs = std::filesystem;
using sonara_archive::Item;
using sonara_archive::Sources;
using sonara_archive::WalkRules;

class SourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sources_test_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }

    void touch(const fs::path &path) { std::ofstream(path) << "x"; }

    fs::path root_;
};

TEST_F(SourcesTest, AFolderTwelveHundredLevelsDeepIsWalked) {
    fs::path deep = root_;
    for (int level = 0; level < 1200; ++level) {
        deep /= "d";
        ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0) << level;
    }
    touch(deep / "bottom.wav");
    touch(root_ / "top.wav");
    Sources sources(WalkRules{});
    std::string error;
    ASSERT_TRUE(sources.add_path(root_.string(), error));
    const std::vector<Item> items = sources.collect();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].path, (deep / "bottom.wav").string());
    EXPECT_TRUE(items[0].error.empty()) << items[0].error;
}

TEST_F(SourcesTest, EveryNamedOrFoundPathIsOneItem) {
    touch(root_ / "b.WAV");
    touch(root_ / "notes.txt.bak");
    ASSERT_EQ(::mkfifo((root_ / "pipe.wav").c_str(), 0600), 0);
    fs::create_symlink(root_ / "nowhere.wav", root_ / "dangling.wav");
    fs::create_symlink(root_, root_ / "loop");  // a link to a folder is not followed
    Sources sources(WalkRules{});
    std::string error;
    ASSERT_TRUE(sources.add_path(root_.string(), error));
    ASSERT_TRUE(sources.add_path((root_ / "b.WAV").string(), error));  // named twice: once
    ASSERT_TRUE(sources.add_path((root_ / "missing.wav").string(), error));
    const std::vector<Item> items = sources.collect();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].path, (root_ / "b.WAV").string());
    EXPECT_TRUE(items[0].error.empty());
    EXPECT_EQ(items[1].path, (root_ / "dangling.wav").string());
    EXPECT_NE(items[1].error.find("No such file"), std::string::npos);
    EXPECT_EQ(items[2].path, (root_ / "missing.wav").string());
    EXPECT_EQ(items[3].error, "not a regular file (FIFO)");
}

TEST_F(SourcesTest, ListsSkipCommentsAndRefuseANulInALineList) {
    touch(root_ / "a.wav");
    const fs::path lines = root_ / "takes.list";
    std::ofstream(lines) << "# comment\n\n" << (root_ / "a.wav").string() << "\r\n";
    Sources sources(WalkRules{});
    std::string error;
    ASSERT_TRUE(sources.add_path(lines.string(), error));
    ASSERT_EQ(sources.collect().size(), 1u);

    const fs::path nul = root_ / "nul.txt";
    std::ofstream(nul) << (root_ / "a.wav").string() << '\0' << (root_ / "b.wav").string();
    Sources refusing(WalkRules{});
    EXPECT_FALSE(refusing.add_path(nul.string(), error));
    EXPECT_NE(error.find("NUL"), std::string::npos);
    Sources reading(WalkRules{});
    ASSERT_TRUE(reading.add_list(nul.string(), true, error)) << error;
    EXPECT_EQ(reading.collect().size(), 2u);  // b.wav is missing: an item with its error
}

}  // namespace
