// Opening and reading the files the engine checks. Plain reads, never a mapping: a file truncated
// or rewritten while it is being checked gives a shorter or mixed content, never a SIGBUS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sonara_archive {

// A regular file opened for reading, closed when this goes.
class OpenFile {
public:
    // Opens path without blocking (a FIFO put in the file's place since the walk can't hold the
    // open) and refuses anything but a regular file; error says why.
    explicit OpenFile(const std::string &path);
    ~OpenFile();
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }
    int fd() const { return fd_; }
    uint64_t size() const { return size_; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    std::string error_;
};

struct FileContent {
    std::unique_ptr<unsigned char[]> data;  // null when nothing was read
    size_t size = 0;
    std::string error;  // not empty: nothing was read, and this says why
};

// Reads file from its start: all of it, refusing (without reading) one larger than max_size
// bytes. At most the size found when it was opened is read, even if the file grows meanwhile.
FileContent read_whole_file(const OpenFile &file, uint64_t max_size);
// The error of a file over the size limit.
std::string too_large(uint64_t size, uint64_t max_size);
// Reads at most count bytes from the file's start.
FileContent read_file_start(const OpenFile &file, size_t count);

}  // namespace sonara_archive
