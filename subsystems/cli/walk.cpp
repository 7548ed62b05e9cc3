#include "walk.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace sonara_cli {
namespace {

std::string join(const std::string &directory, const char *name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

const char *special_kind(mode_t mode) {
    if (S_ISFIFO(mode)) return "FIFO";
    if (S_ISSOCK(mode)) return "socket";
    if (S_ISCHR(mode)) return "character device";
    if (S_ISBLK(mode)) return "block device";
    return "special file";
}

struct DirectoryCloser {
    void operator()(DIR *directory) const { closedir(directory); }
};

class Walker {
public:
    Walker(const WalkOptions &options, std::vector<Input> &out) : options_(options), out_(out) {}

    // A path given by the caller: links are followed, whatever they point at.
    void named(const std::string &path) {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) {
            failed(path);
            return;
        }
        if (S_ISDIR(status.st_mode)) {
            walk(path);
        } else {
            file(path, status);
        }
    }

private:
    void walk(const std::string &directory) {
        errno = 0;
        const std::unique_ptr<DIR, DirectoryCloser> listing(::opendir(directory.c_str()));
        if (listing == nullptr) {
            failed(directory);
            return;
        }
        std::vector<std::string> subdirectories;
        while (const dirent *entry = ::readdir(listing.get())) {
            const char *name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            const std::string path = join(directory, name);
            struct stat status {};
            if (::lstat(path.c_str(), &status) != 0) {
                if (has_wav_extension(name)) failed(path);
                continue;
            }
            if (S_ISLNK(status.st_mode)) {
                // Followed to a file; a link to a directory is left alone.
                struct stat target {};
                if (::stat(path.c_str(), &target) != 0) {
                    if (has_wav_extension(name)) failed(path);
                    continue;
                }
                if (!S_ISDIR(target.st_mode) && has_wav_extension(name)) file(path, target);
                continue;
            }
            if (S_ISDIR(status.st_mode)) {
                if (options_.recurse) subdirectories.push_back(path);
                continue;
            }
            if (has_wav_extension(name)) file(path, status);
        }
        for (const std::string &path : subdirectories) walk(path);
    }

    void file(const std::string &path, const struct stat &status) {
        if (S_ISREG(status.st_mode)) {
            out_.push_back({path, ""});
        } else if (options_.warn) {
            options_.warn(path, std::string("skipped: ") + special_kind(status.st_mode));
        }
    }

    void failed(const std::string &path) {
        out_.push_back({path, std::strerror(errno != 0 ? errno : EIO)});
    }

    const WalkOptions &options_;
    std::vector<Input> &out_;
};

}  // namespace

bool has_wav_extension(const std::string &name) {
    static constexpr char extension[] = ".wav";
    constexpr size_t length = sizeof(extension) - 1;
    if (name.size() < length) return false;
    return ::strncasecmp(name.c_str() + name.size() - length, extension, length) == 0;
}

std::vector<Input> collect_inputs(const std::vector<std::string> &paths, const WalkOptions &options) {
    std::vector<Input> inputs;
    Walker walker(options, inputs);
    for (const std::string &path : paths) walker.named(path);
    std::stable_sort(inputs.begin(), inputs.end(),
                     [](const Input &a, const Input &b) { return a.path < b.path; });
    inputs.erase(std::unique(inputs.begin(), inputs.end(),
                             [](const Input &a, const Input &b) { return a.path == b.path; }),
                 inputs.end());
    return inputs;
}

}  // namespace sonara_cli
