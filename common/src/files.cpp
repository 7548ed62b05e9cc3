// Files and paths: directory test, current directory, path joining, whole-file reading.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_reader.h"
#include "libcommon.h"

namespace common_internal {

int read_whole_file(const char *path, unsigned char **data, size_t *size) {
    *data = nullptr;
    *size = 0;
    if (path == nullptr) return EINVAL;

    // O_NONBLOCK keeps a FIFO from blocking the open; non-regular files are refused below anyway.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    struct stat info;
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        close(fd);
        return error;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    }

    // The stat size is only a first guess: the file may change while it is read.
    size_t capacity = info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
    auto *buffer = static_cast<unsigned char *>(std::malloc(capacity + 1));
    const auto fail = [&](int error) {
        std::free(buffer);
        close(fd);
        return error;
    };
    if (buffer == nullptr) return fail(ENOMEM);
    size_t used = 0;
    for (;;) {
        if (used == capacity) {
            // Probe for data past the expected end before growing, so a file of the expected
            // size is read without reallocating.
            const size_t grown = capacity < 4096 ? 4096 : capacity * 2;
            if (grown <= capacity) return fail(EFBIG);
            unsigned char probe;
            const ssize_t got = read(fd, &probe, 1);
            if (got == 0) break;
            if (got < 0) {
                if (errno == EINTR) continue;
                return fail(errno);
            }
            auto *bigger = static_cast<unsigned char *>(std::realloc(buffer, grown + 1));
            if (bigger == nullptr) return fail(ENOMEM);
            buffer = bigger;
            capacity = grown;
            buffer[used++] = probe;
            continue;
        }
        const ssize_t got = read(fd, buffer + used, capacity - used);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        used += static_cast<size_t>(got);
    }
    close(fd);
    buffer[used] = '\0';
    *data = buffer;
    *size = used;
    return 0;
}

}  // namespace common_internal

namespace {

char *join(const char *dir, const char *name) {
    if (dir == nullptr || name == nullptr) return nullptr;
    const size_t dir_length = std::strlen(dir);
    const size_t name_length = std::strlen(name);
    auto *path = static_cast<char *>(std::malloc(dir_length + name_length + 2));
    if (path == nullptr) return nullptr;
    std::memcpy(path, dir, dir_length);
    path[dir_length] = '/';
    std::memcpy(path + dir_length + 1, name, name_length + 1);
    return path;
}

}  // namespace

extern "C" bool is_directory(const char *path) {
    struct stat info;
    return path != nullptr && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

extern "C" const char *configuration_cwd(void) {
    // Every distinct directory text is kept for the life of the process, so a pointer handed out
    // earlier stays valid even after the directory changes.
    static std::mutex mutex;
    static auto *texts = new std::deque<std::string>;  // reachable until exit, never freed
    char *current = getcwd(nullptr, 0);
    if (current == nullptr) {
        LOG(LOG_ERROR, "cannot read the current directory: %s", std::strerror(errno));
        return ".";
    }
    std::lock_guard<std::mutex> lock(mutex);
    try {
        for (const std::string &text : *texts) {
            if (text == current) {
                std::free(current);
                return text.c_str();
            }
        }
        texts->emplace_back(current);
    } catch (...) {
        std::free(current);
        return ".";
    }
    std::free(current);
    return texts->back().c_str();
}

extern "C" char *by_cwd(const char *name) {
    char *current = getcwd(nullptr, 0);
    if (current == nullptr) {
        LOG(LOG_ERROR, "cannot read the current directory: %s", std::strerror(errno));
        return nullptr;
    }
    char *path = join(current, name);
    std::free(current);
    return path;
}

extern "C" char *by_dir(const char *dir, const char *name) { return join(dir, name); }

extern "C" bool read_file_content(const char *path, unsigned char **data, size_t *size) {
    if (data == nullptr || size == nullptr) {
        LOG(LOG_ERROR, "read_file_content: null output pointer");
        return false;
    }
    const int error = common_internal::read_whole_file(path, data, size);
    if (error != 0) {
        LOG(LOG_WARN, "cannot read file %s: %s", path != nullptr ? path : "(null)",
            error == EINVAL && path != nullptr ? "not a regular file" : std::strerror(error));
        return false;
    }
    return true;
}

extern "C" void free_file_content(unsigned char **data) {
    if (data == nullptr) return;
    std::free(*data);
    *data = nullptr;
}
