#include "memory_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sonara_decoding {
namespace {

sf_count_t memory_length(void *user) { return static_cast<MemoryFile *>(user)->size; }

sf_count_t memory_seek(sf_count_t offset, int whence, void *user) {
    auto *file = static_cast<MemoryFile *>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = file->position;
    else if (whence == SEEK_END) base = file->size;
    else if (whence != SEEK_SET) return -1;
    // Kept within [0, size] without overflowing on an absurd offset.
    if (offset < -base) return -1;
    if (offset > file->size - base) offset = file->size - base;
    file->position = base + offset;
    return file->position;
}

sf_count_t memory_read(void *destination, sf_count_t count, void *user) {
    auto *file = static_cast<MemoryFile *>(user);
    if (count <= 0) return 0;
    const sf_count_t start = file->position;
    const sf_count_t taken = std::min(count, file->size - start);
    auto *out = static_cast<unsigned char *>(destination);
    std::memcpy(out, file->data + start, static_cast<size_t>(taken));
    const auto overlay_end = file->overlay_at + static_cast<sf_count_t>(file->overlay_size);
    const sf_count_t from = std::max(start, file->overlay_at);
    const sf_count_t to = std::min(start + taken, overlay_end);
    for (sf_count_t at = from; at < to; ++at) out[at - start] = file->overlay[at - file->overlay_at];
    file->position += taken;
    return taken;
}

sf_count_t memory_write(const void *, sf_count_t, void *) { return 0; }

sf_count_t memory_tell(void *user) { return static_cast<MemoryFile *>(user)->position; }

}  // namespace

SF_VIRTUAL_IO memory_io() { return {memory_length, memory_seek, memory_read, memory_write, memory_tell}; }

}  // namespace sonara_decoding
