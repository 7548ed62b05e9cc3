// Whole-file reads for the checker. Plain reads into memory of the file's size, not a mapping:
// a file truncated or rewritten while it is being checked gives a shorter or mixed content,
// never a SIGBUS, and the memory is released as soon as the check has finished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sonara_archive {

struct FileContent {
    std::unique_ptr<unsigned char[]> data;  // null for an empty file
    size_t size = 0;
    std::string error;  // not empty: nothing was read, and this says why
};

// Reads the regular file at path, refusing (without reading) one larger than max_size bytes.
// At most the size found when it was opened is read, even if the file grows meanwhile.
FileContent read_whole_file(const std::string &path, uint64_t max_size);

}  // namespace sonara_archive
