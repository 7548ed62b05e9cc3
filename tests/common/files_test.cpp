#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "libcommon.h"
#include "support/log_capture.h"

namespace fs = std::filesystem;

namespace {

using test_support::LogCapture;

// A scratch directory with a regular file, an empty file, a link to the directory and a FIFO.
class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("common_files_" + std::to_string(getpid()));
        fs::create_directories(root_ / "sub");
        std::ofstream(root_ / "data.bin", std::ios::binary).write(kBytes, sizeof kBytes);
        std::ofstream(root_ / "empty.txt");
        fs::create_directory_symlink(root_ / "sub", root_ / "link_to_sub");
        ASSERT_EQ(mkfifo((root_ / "pipe").c_str(), 0600), 0);
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string path(const char *name) const { return (root_ / name).string(); }

    static constexpr char kBytes[] = {'R', 'I', 'F', 'F', '\0', '\x01', '\xff', 'x'};
    fs::path root_;
};

TEST_F(FilesTest, IsDirectory) {
    struct Case {
        std::string path;
        bool expected;
    };
    const Case cases[] = {
        {root_.string(), true},           {path("sub"), true},       {path("link_to_sub"), true},
        {path("data.bin"), false},        {path("missing"), false},  {path("pipe"), false},
    };
    for (const Case &c : cases) EXPECT_EQ(is_directory(c.path.c_str()), c.expected) << c.path;
    EXPECT_FALSE(is_directory(nullptr));
}

TEST_F(FilesTest, ReadsWholeFilesIncludingZeroBytes) {
    unsigned char *data = nullptr;
    size_t size = 99;
    ASSERT_TRUE(read_file_content(path("data.bin").c_str(), &data, &size));
    ASSERT_EQ(size, sizeof kBytes);
    EXPECT_EQ(std::memcmp(data, kBytes, size), 0);
    free_file_content(&data);
    EXPECT_EQ(data, nullptr);

    // An empty file is read; the block is non-null so free_file_content has something to free.
    size = 99;
    ASSERT_TRUE(read_file_content(path("empty.txt").c_str(), &data, &size));
    EXPECT_EQ(size, 0u);
    EXPECT_NE(data, nullptr);
    free_file_content(&data);
    EXPECT_EQ(data, nullptr);
    free_file_content(&data);  // a null pointer is ignored
    free_file_content(nullptr);
}

TEST_F(FilesTest, RefusesWhatIsNotARegularFile) {
    LogCapture capture(LOG_DEBUG);
    for (const std::string &target : {path("missing"), path("sub"), path("link_to_sub"), path("pipe")}) {
        unsigned char *data = reinterpret_cast<unsigned char *>(&capture);  // must be overwritten
        size_t size = 99;
        EXPECT_FALSE(read_file_content(target.c_str(), &data, &size)) << target;  // a FIFO must not block
        EXPECT_EQ(data, nullptr) << target;
        EXPECT_EQ(size, 0u) << target;
    }
    const std::string log = capture.text();
    EXPECT_NE(log.find("No such file or directory"), std::string::npos) << log;
    EXPECT_NE(log.find("Is a directory"), std::string::npos) << log;
    EXPECT_NE(log.find("not a regular file"), std::string::npos) << log;

    unsigned char *data = nullptr;
    size_t size = 0;
    EXPECT_FALSE(read_file_content(nullptr, &data, &size));
    EXPECT_FALSE(read_file_content(path("data.bin").c_str(), nullptr, &size));
    EXPECT_FALSE(read_file_content(path("data.bin").c_str(), &data, nullptr));
}

TEST_F(FilesTest, PathsInTheCurrentAndAGivenDirectory) {
    const fs::path saved = fs::current_path();
    fs::current_path(root_);
    const std::string cwd = configuration_cwd();
    char *in_cwd = by_cwd("cv_configuration.json");
    fs::current_path(saved);

    EXPECT_EQ(fs::path(cwd), fs::canonical(root_));
    ASSERT_NE(in_cwd, nullptr);
    EXPECT_EQ(std::string(in_cwd), cwd + "/cv_configuration.json");
    std::free(in_cwd);

    // The earlier text stays valid after the directory changed.
    const char *now = configuration_cwd();
    EXPECT_EQ(std::string(now), saved.string());
    fs::current_path(root_);
    const char *again = configuration_cwd();
    fs::current_path(saved);
    EXPECT_EQ(std::string(again), cwd);
    EXPECT_EQ(std::string(now), saved.string());

    char *in_dir = by_dir("/opt/libs", "libsonara.so");
    ASSERT_NE(in_dir, nullptr);
    EXPECT_STREQ(in_dir, "/opt/libs/libsonara.so");
    std::free(in_dir);

    EXPECT_EQ(by_dir(nullptr, "x"), nullptr);
    EXPECT_EQ(by_dir("/tmp", nullptr), nullptr);
    EXPECT_EQ(by_cwd(nullptr), nullptr);
}

}  // namespace
