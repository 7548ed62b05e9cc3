#include "mpeg_stream.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace sonara_decoding {
namespace {

mpg123_ssize_t source_read(void *user, void *buffer, size_t bytes) {
    auto *source = static_cast<MpegStream::Source *>(user);
    const size_t taken = std::min(bytes, source->size - source->position);
    if (taken > 0) std::memcpy(buffer, source->data + source->position, taken);
    source->position += taken;
    return static_cast<mpg123_ssize_t>(taken);
}

off_t source_seek(void *user, off_t offset, int whence) {
    auto *source = static_cast<MpegStream::Source *>(user);
    off_t base = 0;
    if (whence == SEEK_CUR) base = static_cast<off_t>(source->position);
    else if (whence == SEEK_END) base = static_cast<off_t>(source->size);
    else if (whence != SEEK_SET) return -1;
    if (offset < -base || offset > static_cast<off_t>(source->size) - base) return -1;
    source->position = static_cast<size_t>(base + offset);
    return static_cast<off_t>(source->position);
}

// A handle reading `source`, configured as libsndfile configures its own.
mpg123_handle *open_handle(MpegStream::Source &source, bool read_info_frame, std::string &error) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });
    int code = MPG123_OK;
    mpg123_handle *handle = mpg123_new(nullptr, &code);
    if (handle == nullptr) {
        error = std::string("libmpg123: ") + mpg123_plain_strerror(code);
        return nullptr;
    }
    mpg123_param(handle, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0);
    long flags = MPG123_FORCE_FLOAT | MPG123_GAPLESS | MPG123_QUIET;
#if MPG123_API_VERSION >= 45
    flags |= MPG123_NO_FRANKENSTEIN;
#endif
    if (!read_info_frame) flags |= MPG123_IGNORE_INFOFRAME;
    mpg123_param(handle, MPG123_ADD_FLAGS, flags, 0);
    if (mpg123_replace_reader_handle(handle, source_read, source_seek, nullptr) != MPG123_OK ||
        mpg123_open_handle(handle, &source) != MPG123_OK) {
        error = std::string("libmpg123: ") + mpg123_strerror(handle);
        mpg123_delete(handle);
        return nullptr;
    }
    return handle;
}

}  // namespace

MpegStream::~MpegStream() {
    if (handle_ != nullptr) mpg123_delete(handle_);
}

bool MpegStream::open(const unsigned char *content, size_t size, std::string &error) {
    source_ = {content, size, 0};
    handle_ = open_handle(source_, true, error);
    if (handle_ == nullptr) return false;
    int encoding = 0;
    if (mpg123_getformat(handle_, &sample_rate_, &channels_, &encoding) != MPG123_OK) {
        error = std::string("libmpg123: ") + mpg123_strerror(handle_);
        return false;
    }
    const off_t told = mpg123_length(handle_);
    if (mpg123_scan(handle_) != MPG123_OK) {
        error = std::string("libmpg123: ") + mpg123_strerror(handle_);
        return false;
    }
    // The scan walks every frame but keeps a Xing/Info frame's count when there is one. Counting
    // again with that frame taken as audio gives every MPEG frame the stream holds: one more than
    // an honest count, the same when there is no such frame, more than one more when it lies.
    const off_t counted = mpg123_framelength(handle_);
    Source again{content, size, 0};
    std::string ignored;
    mpg123_handle *all = open_handle(again, false, ignored);
    off_t held = -1;
    if (all != nullptr) {
        if (mpg123_scan(all) == MPG123_OK) held = mpg123_framelength(all);
        mpg123_delete(all);
    }
    if (counted >= 0 && held > counted) {
        declared_known_ = told >= 0;
        declared_frames_ = declared_known_ ? static_cast<uint64_t>(told) : 0;
        if (held > counted + 1) {
            error = "MP3: its Xing/Info frame declares " + std::to_string(counted) +
                    " MPEG frames, the stream holds " + std::to_string(held - 1);
            return false;
        }
    }
    mpg123_format_none(handle_);
    if (mpg123_format(handle_, sample_rate_, channels_, MPG123_ENC_FLOAT_32) != MPG123_OK) {
        error = std::string("libmpg123: ") + mpg123_strerror(handle_);
        return false;
    }
    return true;
}

long MpegStream::read(float *block, size_t frames) {
    if (done_) return 0;
    const size_t frame_bytes = static_cast<size_t>(channels_) * sizeof(float);
    size_t filled = 0;
    while (filled < frames) {
        size_t got = 0;
        const int code = mpg123_read(handle_, reinterpret_cast<unsigned char *>(block) + filled * frame_bytes,
                                     (frames - filled) * frame_bytes, &got);
        filled += got / frame_bytes;
        if (code == MPG123_DONE) {
            done_ = true;
            break;
        }
        if (code == MPG123_NEW_FORMAT) {
            error_ = "MP3: the stream changes its rate or channel count";
            return -1;
        }
        if (code != MPG123_OK) {
            error_ = std::string("libmpg123: ") + mpg123_strerror(handle_);
            return -1;
        }
        if (got == 0) break;
    }
    return static_cast<long>(filled);
}

}  // namespace sonara_decoding
