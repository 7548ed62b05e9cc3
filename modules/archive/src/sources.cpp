#include "sources.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "sonara_vocabulary.h"

namespace sonara_archive {
namespace {

std::string join(const std::string &directory, const char *name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

std::string not_regular(mode_t mode) {
    const char *kind = "special file";
    if (S_ISFIFO(mode)) kind = "FIFO";
    if (S_ISSOCK(mode)) kind = "socket";
    if (S_ISCHR(mode)) kind = "character device";
    if (S_ISBLK(mode)) kind = "block device";
    return std::string("not a regular file (") + kind + ")";
}

std::string system_error() { return std::strerror(errno != 0 ? errno : EIO); }

struct DirectoryCloser {
    void operator()(DIR *directory) const { closedir(directory); }
};

template <size_t N>
bool ends_with_one_of(const std::string &name, const char *const (&extensions)[N]) {
    for (const char *extension : extensions) {
        const size_t length = std::strlen(extension);
        if (name.size() >= length &&
            ::strncasecmp(name.c_str() + name.size() - length, extension, length) == 0) {
            return true;
        }
    }
    return false;
}

// Reads a whole list: a file, or standard input for "-". Lists are small next to what they name.
bool read_list(const std::string &list, std::string &bytes, std::string &error) {
    const int fd = list == "-" ? STDIN_FILENO : ::open(list.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = system_error();
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = system_error();
            if (fd != STDIN_FILENO) ::close(fd);
            return false;
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    if (fd != STDIN_FILENO) ::close(fd);
    return true;
}

// The walk of one folder tree with an explicit stack, so depth costs memory, not the call stack.
class Walker {
public:
    Walker(const WalkRules &rules, std::vector<Item> &out) : rules_(rules), out_(out) {}

    // A path given by the caller: links are followed, whatever they point at.
    void named(const std::string &path) {
        struct stat status {};
        errno = 0;
        if (::stat(path.c_str(), &status) != 0) {
            out_.push_back({path, system_error()});
        } else if (S_ISDIR(status.st_mode)) {
            walk(path);
        } else {
            file(path, status);
        }
    }

private:
    void walk(const std::string &root) {
        std::vector<std::string> pending{root};
        while (!pending.empty()) {
            const std::string directory = std::move(pending.back());
            pending.pop_back();
            std::vector<std::string> subdirectories;
            list(directory, subdirectories);
            // Pushed in reverse so folders are entered in the order they were listed.
            for (auto it = subdirectories.rbegin(); it != subdirectories.rend(); ++it) {
                pending.push_back(std::move(*it));
            }
        }
    }

    void list(const std::string &directory, std::vector<std::string> &subdirectories) {
        errno = 0;
        const std::unique_ptr<DIR, DirectoryCloser> listing(::opendir(directory.c_str()));
        if (listing == nullptr) {
            out_.push_back({directory, system_error()});
            return;
        }
        for (;;) {
            errno = 0;
            const dirent *entry = ::readdir(listing.get());
            if (entry == nullptr) {
                if (errno != 0) out_.push_back({directory, system_error()});
                break;
            }
            const char *name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            const std::string path = join(directory, name);
            struct stat status {};
            if (::lstat(path.c_str(), &status) != 0) {
                if (wanted(name)) out_.push_back({path, system_error()});
                continue;
            }
            if (S_ISLNK(status.st_mode)) {
                // Followed to a file; a link to a folder is left alone, so the walk can't loop.
                struct stat target {};
                if (::stat(path.c_str(), &target) != 0) {
                    if (wanted(name)) out_.push_back({path, system_error()});
                } else if (!S_ISDIR(target.st_mode) && wanted(name)) {
                    file(path, target);
                }
                continue;
            }
            if (S_ISDIR(status.st_mode)) {
                if (rules_.recurse) subdirectories.push_back(path);
                continue;
            }
            if (wanted(name)) file(path, status);
        }
    }

    bool wanted(const char *name) const {
        return rules_.decode ? has_decodable_extension(name) : has_wav_extension(name);
    }

    void file(const std::string &path, const struct stat &status) {
        out_.push_back({path, S_ISREG(status.st_mode) ? std::string() : not_regular(status.st_mode)});
    }

    const WalkRules &rules_;
    std::vector<Item> &out_;
};

}  // namespace

bool has_wav_extension(const std::string &name) {
    return ends_with_one_of(name, sonara_vocabulary::WAV_EXTENSIONS);
}

bool has_decodable_extension(const std::string &name) {
    return ends_with_one_of(name, sonara_vocabulary::DECODE_EXTENSIONS);
}

bool has_list_extension(const std::string &name) {
    return ends_with_one_of(name, sonara_vocabulary::LIST_EXTENSIONS);
}

bool Sources::add_path(const std::string &path, std::string &error) {
    struct stat status {};
    if (!has_list_extension(path) || ::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        named_.push_back(path);
        return true;
    }
    std::string bytes;
    std::string why;
    if (!read_list(path, bytes, why)) {
        items_.push_back({path, why});
        return true;
    }
    return add_entries(path, bytes, false, error);
}

bool Sources::add_list(const std::string &list, bool nul_separated, std::string &error) {
    std::string bytes;
    std::string why;
    if (!read_list(list, bytes, why)) {
        error = "cannot read the path list " + list + ": " + why;
        return false;
    }
    return add_entries(list, bytes, nul_separated, error);
}

bool Sources::add_entries(const std::string &origin, const std::string &bytes, bool nul_separated,
                          std::string &error) {
    const char separator = nul_separated ? '\0' : '\n';
    if (!nul_separated && bytes.find('\0') != std::string::npos) {
        error = "the path list " + origin +
                " holds a NUL byte: NUL-separated lists are read with --files0-from";
        return false;
    }
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find(separator, start);
        if (end == std::string::npos) end = bytes.size();
        std::string entry = bytes.substr(start, end - start);
        start = end + 1;
        if (!nul_separated) {
            // A newline list may come from a CRLF file; blank and '#' lines are no paths.
            if (!entry.empty() && entry.back() == '\r') entry.pop_back();
            if (entry.empty() || entry.front() == '#') continue;
        } else if (entry.empty()) {
            continue;
        }
        named_.push_back(std::move(entry));
    }
    return true;
}

void Sources::add_item(const std::string &path, const std::string &error) {
    items_.push_back({path, error});
}

std::vector<Item> Sources::collect() const {
    std::vector<Item> items = items_;
    Walker walker(rules_, items);
    for (const std::string &path : named_) walker.named(path);
    std::stable_sort(items.begin(), items.end(), [](const Item &a, const Item &b) { return a.path < b.path; });
    items.erase(std::unique(items.begin(), items.end(),
                            [](const Item &a, const Item &b) { return a.path == b.path; }),
                items.end());
    return items;
}

}  // namespace sonara_archive
