// A SonaraReader over bytes held in memory, for checking the reader-based calls against v_check
// on the same bytes. Each call answers at most `most` bytes, so the check's reads come back in
// pieces as from a pipe or a network file; after `ends_after` bytes of the file the reader
// answers as at the end, as a file that shrank while it was read.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "sonara.h"

namespace test_support {

class MemoryReader {
public:
    explicit MemoryReader(const std::vector<unsigned char> &bytes, size_t most = 65521)
        : bytes_(bytes), most_(most) {
        reader_.read_at = &MemoryReader::read_at;
        reader_.user = this;
        reader_.size = bytes.size();
        reader_.error = 0;
    }
    MemoryReader(const MemoryReader &) = delete;
    MemoryReader &operator=(const MemoryReader &) = delete;

    SonaraReader *get() { return &reader_; }
    // Answers 0 from this offset on.
    void end_after(uint64_t offset) { ends_after_ = offset; }
    // Answers -1 with errno from this offset on (a read that starts before it stops there).
    void fail_after(uint64_t offset, int error) {
        fails_after_ = offset;
        error_ = error;
    }
    uint64_t bytes_served() const { return served_; }
    // The highest offset + size ever asked for.
    uint64_t furthest_asked() const { return furthest_; }

private:
    static int64_t read_at(void *user, unsigned char *buffer, size_t size, uint64_t offset) {
        MemoryReader &self = *static_cast<MemoryReader *>(user);
        self.furthest_ = std::max(self.furthest_, offset + size);
        if (offset >= self.fails_after_) {
            errno = self.error_;
            return -1;
        }
        const uint64_t end = std::min<uint64_t>({self.bytes_.size(), self.ends_after_, self.fails_after_});
        if (offset >= end) return 0;
        const size_t count = static_cast<size_t>(std::min<uint64_t>({size, self.most_, end - offset}));
        std::memcpy(buffer, self.bytes_.data() + offset, count);
        self.served_ += count;
        return static_cast<int64_t>(count);
    }

    const std::vector<unsigned char> &bytes_;
    size_t most_;
    SonaraReader reader_{};
    uint64_t ends_after_ = std::numeric_limits<uint64_t>::max();
    uint64_t fails_after_ = std::numeric_limits<uint64_t>::max();
    int error_ = 0;
    uint64_t served_ = 0;
    uint64_t furthest_ = 0;
};

}  // namespace test_support
