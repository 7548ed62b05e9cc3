// A look at an Ogg Vorbis stream's three header packets before libsndfile opens it. libsndfile
// leaks libvorbis's setup (about 6 KB) on every open that fails once the identification header
// has been seen: a malformed identification header, a header page missing or damaged, or an end
// before the three headers. Those files are refused here, with libvorbis's own reading of the
// headers, so that path is never taken.
#pragma once

#include <cstddef>
#include <string>

namespace sonara_decoding {

// Empty when libsndfile may open the content (not Ogg, not Vorbis, or headers that read); else
// why the file is refused.
std::string ogg_vorbis_refusal(const unsigned char *content, size_t size);

}  // namespace sonara_decoding
