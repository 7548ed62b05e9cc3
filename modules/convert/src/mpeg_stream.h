// MPEG audio (MP3) decoded with libmpg123 directly, set up as libsndfile sets it up (32-bit float,
// gapless, no resampling), for the one thing libsndfile can't do: reach the stream's end. Over
// our in-memory bytes libsndfile takes mpg123's length estimate (bitrate x size when there is no
// Xing/Info frame) as the frame count and stops every read there, so a VBR file without that
// frame loses its end. Here the whole stream is scanned first, and a Xing/Info frame count that
// falls short of the frames the stream holds is refused as a header that under-counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct mpg123_handle_struct;

namespace sonara_decoding {

class MpegStream {
public:
    MpegStream() = default;
    ~MpegStream();
    MpegStream(const MpegStream &) = delete;
    MpegStream &operator=(const MpegStream &) = delete;

    // false with error set when libmpg123 can't open or scan it, or its Xing/Info count lies.
    bool open(const unsigned char *content, size_t size, std::string &error);

    // Up to `frames` interleaved frames into block; 0 at the end of the stream, -1 on an error
    // (error() then says what).
    long read(float *block, size_t frames);
    const std::string &error() const { return error_; }

    int channels() const { return channels_; }
    long sample_rate() const { return sample_rate_; }
    bool declared_known() const { return declared_known_; }  // a Xing/Info frame count
    uint64_t declared_frames() const { return declared_frames_; }

    struct Source {
        const unsigned char *data = nullptr;
        size_t size = 0;
        size_t position = 0;
    };

private:
    mpg123_handle_struct *handle_ = nullptr;
    Source source_;
    int channels_ = 0;
    long sample_rate_ = 0;
    bool declared_known_ = false;
    uint64_t declared_frames_ = 0;
    bool done_ = false;
    std::string error_;
};

}  // namespace sonara_decoding
