#include "ogg_check.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <cstring>

namespace sonara_decoding {
namespace {

// Fed to the page reader in blocks, as libsndfile reads: the memory used is a page or two
// (at most 64 KiB each), whatever the file's size.
constexpr size_t kFeedBytes = 4096;

class OggReader {
public:
    OggReader(const unsigned char *content, size_t size) : content_(content), size_(size) { ogg_sync_init(&sync_); }
    ~OggReader() {
        ogg_sync_clear(&sync_);
        if (stream_open_) ogg_stream_clear(&stream_);
    }
    OggReader(const OggReader &) = delete;
    OggReader &operator=(const OggReader &) = delete;

    // The next page; false at the end of the content.
    bool next_page(ogg_page &page) {
        for (;;) {
            const int found = ogg_sync_pageout(&sync_, &page);
            if (found == 1) return true;
            if (found < 0) continue;  // bytes skipped to the next capture pattern
            if (fed_ == size_) return false;
            const size_t bytes = std::min(kFeedBytes, size_ - fed_);
            char *buffer = ogg_sync_buffer(&sync_, static_cast<long>(bytes));
            if (buffer == nullptr) return false;
            std::memcpy(buffer, content_ + fed_, bytes);
            ogg_sync_wrote(&sync_, static_cast<long>(bytes));
            fed_ += bytes;
        }
    }

    ogg_stream_state &stream_for(const ogg_page &page) {
        serial_ = ogg_page_serialno(&page);
        ogg_stream_init(&stream_, serial_);
        stream_open_ = true;
        return stream_;
    }

    // Granule positions of the first stream's pages must not go backwards (-1: no packet ends on
    // the page).
    void note_granule(const ogg_page &page) {
        if (!stream_open_ || ogg_page_serialno(&page) != serial_) return;
        const ogg_int64_t granule = ogg_page_granulepos(&page);
        if (granule < 0) return;
        if (granule < highest_ && !backwards_) {
            backwards_ = true;
            backwards_at_ = granule;
        }
        highest_ = std::max(highest_, granule);
    }
    bool backwards() const { return backwards_; }
    ogg_int64_t backwards_at() const { return backwards_at_; }
    ogg_int64_t highest() const { return highest_; }

private:
    const unsigned char *content_;
    size_t size_;
    size_t fed_ = 0;
    ogg_sync_state sync_{};
    ogg_stream_state stream_{};
    bool stream_open_ = false;
    int serial_ = 0;
    ogg_int64_t highest_ = 0;
    bool backwards_ = false;
    ogg_int64_t backwards_at_ = 0;
};

// libvorbis's setup for one check, released on every path.
struct VorbisHeaders {
    vorbis_info info{};
    vorbis_comment comment{};
    VorbisHeaders() {
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~VorbisHeaders() {
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
    VorbisHeaders(const VorbisHeaders &) = delete;
    VorbisHeaders &operator=(const VorbisHeaders &) = delete;
};

constexpr unsigned char kVorbisId[] = {0x01, 'v', 'o', 'r', 'b', 'i', 's'};

// The three Vorbis headers, from the identification packet in hand: empty when libvorbis reads them.
std::string vorbis_refusal(OggReader &reader, ogg_stream_state &stream, ogg_packet &packet) {
    VorbisHeaders headers;
    if (vorbis_synthesis_headerin(&headers.info, &headers.comment, &packet) != 0) {
        return "malformed Ogg Vorbis: its identification header is not valid";
    }
    static const char *const kNames[] = {"comment", "setup"};
    ogg_page page;
    int read = 0;
    while (read < 2) {
        const int result = ogg_stream_packetout(&stream, &packet);
        if (result < 0) return "malformed Ogg Vorbis: a page of its headers is missing or damaged";
        if (result == 0) {
            if (!reader.next_page(page)) return "malformed Ogg Vorbis: the file ends before its three headers";
            reader.note_granule(page);
            ogg_stream_pagein(&stream, &page);  // a page of another stream is not taken in
            continue;
        }
        if (vorbis_synthesis_headerin(&headers.info, &headers.comment, &packet) != 0) {
            return std::string("malformed Ogg Vorbis: its ") + kNames[read] + " header is not valid";
        }
        ++read;
    }
    return {};
}

}  // namespace

std::string ogg_refusal(const unsigned char *content, size_t size) {
    if (content == nullptr || size < 4 || std::memcmp(content, "OggS", 4) != 0) return {};
    OggReader reader(content, size);
    ogg_page page;
    if (!reader.next_page(page)) return {};
    ogg_stream_state &stream = reader.stream_for(page);
    reader.note_granule(page);
    ogg_packet packet;
    // libsndfile tells the codec by the first packet of the first page; a first packet it can't
    // take out fails before any codec is involved.
    if (ogg_stream_pagein(&stream, &page) != 0 || ogg_stream_packetout(&stream, &packet) != 1) return {};
    if (packet.bytes >= static_cast<long>(sizeof kVorbisId) && std::memcmp(packet.packet, kVorbisId, sizeof kVorbisId) == 0) {
        std::string refusal = vorbis_refusal(reader, stream, packet);
        if (!refusal.empty()) return refusal;
    }
    while (reader.next_page(page)) reader.note_granule(page);
    if (reader.backwards()) {
        return "Ogg: a page's granule position (" + std::to_string(reader.backwards_at()) +
               ") is before an earlier page's (" + std::to_string(reader.highest()) +
               "), which would hide the audio between them";
    }
    return {};
}

}  // namespace sonara_decoding
