// Whole-file reading shared by read_file_content and the configuration reader.
#ifndef SONARA_COMMON_FILE_READER_H
#define SONARA_COMMON_FILE_READER_H

#include <cstddef>

namespace common_internal {

// Reads a regular file whole into malloc'd memory, followed by one NUL byte that is not counted
// in size (so an empty file still yields a non-null block). On failure data is null, size 0 and
// the result is an errno value (EISDIR for a directory, EINVAL for other non-regular files).
int read_whole_file(const char *path, unsigned char **data, size_t *size);

}  // namespace common_internal

#endif
