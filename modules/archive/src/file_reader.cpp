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

FileContent read_start(const OpenFile &file, size_t count) {
    FileContent content;
    if (count == 0) return content;
    content.data.reset(new (std::nothrow) unsigned char[count]);
    if (content.data == nullptr) {
        content.error = "out of memory for " + std::to_string(count) + " bytes";
        return content;
    }
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(file.fd(), content.data.get() + done, count - done, static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) continue;
            content.error = system_error("cannot read");
            content.data.reset();
            return content;
        }
        if (got == 0) break;  // truncated since it was opened: what is there is what is judged
        done += static_cast<size_t>(got);
    }
    content.size = done;
    if (done == 0) content.data.reset();
    return content;
}

}  // namespace

OpenFile::OpenFile(const std::string &path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        error_ = system_error("cannot open");
        return;
    }
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
        error_ = system_error("cannot stat");
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        error_ = "not a regular file";
        return;
    }
    size_ = static_cast<uint64_t>(status.st_size);
}

OpenFile::~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::string too_large(uint64_t size, uint64_t max_size) {
    return "too large: " + std::to_string(size) + " bytes, more than the size limit of " + std::to_string(max_size) +
           " bytes";
}

FileContent read_whole_file(const OpenFile &file, uint64_t max_size) {
    if (file.size() > max_size) {
        FileContent content;
        content.error = too_large(file.size(), max_size);
        return content;
    }
    if (file.size() > SIZE_MAX) {
        FileContent content;
        content.error = "too large for this machine's memory: " + std::to_string(file.size()) + " bytes";
        return content;
    }
    return read_start(file, static_cast<size_t>(file.size()));
}

FileContent read_file_start(const OpenFile &file, size_t count) {
    return read_start(file, file.size() < count ? static_cast<size_t>(file.size()) : count);
}

}  // namespace sonara_archive
