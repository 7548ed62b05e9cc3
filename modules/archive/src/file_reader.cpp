#include "file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace sonara_archive {
namespace {

std::string system_error(const char *what) { return std::string(what) + ": " + std::strerror(errno); }

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

FileContent read_whole_file(const std::string &path, uint64_t max_size) {
    FileContent content;
    // O_NONBLOCK: a FIFO put in the file's place since the walk must not block the open.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0) {
        content.error = system_error("cannot open");
        return content;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        content.error = system_error("cannot stat");
        return content;
    }
    if (!S_ISREG(status.st_mode)) {
        content.error = "not a regular file";
        return content;
    }
    const auto size = static_cast<uint64_t>(status.st_size);
    if (size > max_size) {
        content.error = "too large: " + std::to_string(size) + " bytes, more than the size limit of " +
                        std::to_string(max_size) + " bytes";
        return content;
    }
    if (size == 0) {
        return content;
    }
    content.data.reset(new (std::nothrow) unsigned char[size]);
    if (content.data == nullptr) {
        content.error = "out of memory for " + std::to_string(size) + " bytes";
        return content;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(file.get(), content.data.get() + done, size - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            content.error = system_error("cannot read");
            content.data.reset();
            return content;
        }
        if (got == 0) break;  // truncated since it was opened: check what is there
        done += static_cast<size_t>(got);
    }
    content.size = done;
    if (done == 0) content.data.reset();
    return content;
}

}  // namespace sonara_archive
