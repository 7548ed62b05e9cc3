// v_check_reader and v_check_fd: the check of a file read as it goes. The header walk is the
// library's own, fed from a small window that follows it (a chunk it skips is never read), and
// each channel's walk over the payload reads the frames it decodes a window at a time, so the
// memory one check takes is fixed whatever the file's size.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "check_pipeline.h"
#include "libcommon.h"
#include "session.h"
#include "sonara.h"

namespace {

// The header is read in blocks that start small (most headers are 44 bytes) and double at each
// refill up to the cap, so a walk over many small chunks costs few reads.
constexpr uint64_t head_first_block = 4096;
constexpr uint64_t head_block_cap = 64 * 1024;
// The payload window: at least 4 frames of the widest frame a header can declare (65,535 bytes),
// and one resampler block of 16-bit stereo (64 Ki frames of 4 bytes) in one read. Small enough to
// stay in the cache between the read and the decoding.
constexpr uint64_t payload_window = 256 * 1024;

// A file served by a SonaraReader: the header walk's bytes and the payload's samples. A read
// that fails or comes short sets the reader's error; from then on every field is refused and
// every sample is 0, and the check's figures are discarded.
class ReaderFile final : public CheckedFile, public HeadBytes, public PayloadSource {
public:
    explicit ReaderFile(SonaraReader *reader) : reader_(reader) {}

    bool failed() const { return reader_->error != 0; }
    uint64_t failed_at() const { return failed_at_; }

    bool read_head(Head *head) override {
        uint64_t data_offset = 0;
        if (!read_head_from(*this, reader_->size, head, &data_offset)) return false;
        data_offset_ = data_offset;
        data_size_ = head->data_size;
        block_align_ = head->block_align;
        const uint64_t bytes_per_sample = head->bits_per_sample / 8;
        // As decode_channel: deeper samples keep their two most significant bytes.
        sample_skip_ = head->bits_per_sample > 16 && bytes_per_sample >= 2 ? bytes_per_sample - 2 : 0;
        bytes_per_sample_ = bytes_per_sample;
        return true;
    }

    PayloadSource *payload() override { return this; }

    const unsigned char *at(uint64_t position, uint64_t count) override {
        if (failed()) return nullptr;
        if (position >= head_start_ && count <= head_length_ &&
            position - head_start_ <= head_length_ - count) {
            return head_window_.get() + (position - head_start_);
        }
        if (head_window_ == nullptr) {
            head_window_.reset(new (std::nothrow) unsigned char[head_block_cap]);
            if (head_window_ == nullptr) return fail(ENOMEM, position), nullptr;
        }
        // The walk asks only for bytes inside the file's size, so the block holds them.
        const uint64_t block = std::min(head_block_, reader_->size - position);
        if (block < count) return fail(EIO, position), nullptr;
        if (!read_exactly(position, block, head_window_.get())) return nullptr;
        head_start_ = position;
        head_length_ = block;
        head_block_ = std::min(head_block_ * 2, head_block_cap);
        return head_window_.get();
    }

    void decode(uint64_t channel, uint64_t first, uint64_t count, double *samples) override {
        const uint64_t base = channel * bytes_per_sample_ + sample_skip_;
        uint64_t k = 0;
        while (k < count) {
            const uint64_t offset = (first + k) * block_align_ + base;
            // Bytes past the payload count as 0, as decode_channel reads them.
            if (offset >= data_size_ || (!covered(offset) && !refill(offset))) break;
            const unsigned char *at = window_.get() + (offset - window_start_);
            if (offset + 2 <= window_end_) {
                // Every sample whose two bytes lie in the window, in one run.
                const uint64_t run =
                    std::min(count - k, (window_end_ - offset - 2) / block_align_ + 1);
                for (uint64_t i = 0; i < run; ++i, at += block_align_) {
                    samples[k + i] = static_cast<double>(
                        static_cast<int16_t>(static_cast<uint16_t>(at[0] | (at[1] << 8))));
                }
                k += run;
            } else {
                // The payload's last byte, without a high byte after it.
                samples[k++] = static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(at[0])));
            }
        }
        std::fill(samples + k, samples + count, 0.0);
    }

private:
    // true when the window holds the sample at payload offset: both of its bytes, or its one
    // byte when it is the payload's last.
    bool covered(uint64_t offset) const {
        return offset >= window_start_ && offset < window_end_ &&
               (offset + 2 <= window_end_ || window_end_ == data_size_);
    }

    // Reads the window from payload offset on; false when the read fails (the error is kept).
    bool refill(uint64_t offset) {
        if (failed()) return false;
        if (window_ == nullptr) {
            window_.reset(new (std::nothrow) unsigned char[payload_window]);
            if (window_ == nullptr) return fail(ENOMEM, data_offset_ + offset), false;
        }
        const uint64_t length = std::min(payload_window, data_size_ - offset);
        window_start_ = window_end_ = 0;
        if (!read_exactly(data_offset_ + offset, length, window_.get())) return false;
        window_start_ = offset;
        window_end_ = offset + length;
        return true;
    }

    // size bytes at offset into buffer, in as many reads as the reader needs.
    bool read_exactly(uint64_t offset, uint64_t size, unsigned char *buffer) {
        uint64_t done = 0;
        while (done < size) {
            errno = 0;
            const int64_t got = reader_->read_at(reader_->user, buffer + done,
                                                 static_cast<size_t>(size - done), offset + done);
            if (got < 0) return fail(errno != 0 ? errno : EIO, offset + done), false;
            // Nothing where the size said there were bytes: the file shrank. More than asked
            // for is a reader that can't be trusted with the buffer.
            if (got == 0 || static_cast<uint64_t>(got) > size - done) {
                return fail(EIO, offset + done), false;
            }
            done += static_cast<uint64_t>(got);
        }
        return true;
    }

    void fail(int error, uint64_t offset) {
        if (reader_->error != 0) return;
        reader_->error = error;
        failed_at_ = offset;
    }

    SonaraReader *reader_;
    uint64_t failed_at_ = 0;

    std::unique_ptr<unsigned char[]> head_window_;
    uint64_t head_start_ = 0;
    uint64_t head_length_ = 0;
    uint64_t head_block_ = head_first_block;

    uint64_t data_offset_ = 0;
    uint64_t data_size_ = 0;
    uint64_t block_align_ = 1;
    uint64_t bytes_per_sample_ = 0;
    uint64_t sample_skip_ = 0;
    std::unique_ptr<unsigned char[]> window_;  // payload bytes [window_start_, window_end_)
    uint64_t window_start_ = 0;
    uint64_t window_end_ = 0;
};

int64_t read_descriptor(void *user, unsigned char *buffer, size_t size, uint64_t offset) {
    const int fd = *static_cast<const int *>(user);
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
        errno = EOVERFLOW;
        return -1;
    }
    for (;;) {
        const ssize_t got = pread(fd, buffer, size, static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR) return got;
    }
}

}  // namespace

extern "C" {

bool v_check_reader(Session *session, SonaraReader *reader, bool all) {
    if (reader != nullptr) reader->error = 0;
    const bool usable = reader != nullptr && reader->read_at != nullptr;
    SonaraReader none{};
    ReaderFile file(usable ? reader : &none);
    // A missing reader is missing content, as a null buffer is to v_check.
    const bool passed = check_file(session, usable, usable ? reader->size : 0, file, !all);
    if (reader != nullptr && !usable) reader->error = EINVAL;
    if (!file.failed()) return passed;

    char text[256];
    const char *reason = strerror_r(reader->error, text, sizeof text);
    LOG(LOG_ERROR, "[library] Reading the file failed at byte %llu: %s",
        static_cast<unsigned long long>(file.failed_at()), reason);
    session->state = STATE_CONTENT_FAILED;
    return false;
}

bool v_check_fd(Session *session, int fd, bool all, int *error) {
    if (error != nullptr) *error = 0;
    struct stat status;
    if (fstat(fd, &status) != 0) {
        const int reason = errno;
        if (error != nullptr) *error = reason;
        if (check_valid_session(session) != VOICE_SESSION_OK) return false;
        LOG(LOG_ERROR, "[library] The file can't be read: descriptor %d, error %d", fd, reason);
        session->state = STATE_CONTENT_FAILED;
        return false;
    }
    int descriptor = fd;
    SonaraReader reader{read_descriptor, &descriptor, static_cast<uint64_t>(status.st_size), 0};
    const bool passed = v_check_reader(session, &reader, all);
    if (error != nullptr) *error = reader.error;
    return passed;
}

}  // extern "C"
