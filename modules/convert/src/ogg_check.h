// A look at an Ogg file's pages before libsndfile opens it.
// - Vorbis: libsndfile leaks libvorbis's setup (about 6 KB) on every open that fails once the
//   identification header has been seen: a malformed identification header, a header page
//   missing or damaged, or an end before the three headers. Those files are refused here, with
//   libvorbis's own reading of the headers, so that path is never taken.
// - Any codec: libsndfile takes the last page's granule position as the length and stops every
//   read there; a last position before an earlier page's would hide the audio between them, so
//   granule positions that go backwards are refused.
#pragma once

#include <cstddef>
#include <string>

namespace sonara_decoding {

// Empty when libsndfile may open the content (not Ogg, or pages and headers that read); else why
// the file is refused.
std::string ogg_refusal(const unsigned char *content, size_t size);

}  // namespace sonara_decoding
