// The versions of what the engine was built with and runs over, for the front ends' version
// texts: nothing here needs a session.
#include <soxr.h>
#include <sndfile.h>

#include <cstring>

#include "sonara_archive.h"
#include "sonara_version.h"

extern "C" {

SONARA_ARCHIVE_API const char *sonara_archive_component_version(const char *component) {
    if (component == nullptr) return nullptr;
    // libsonara is built with the engine from the same project version.
    if (std::strcmp(component, "libsonara") == 0) return SONARA_VERSION;
    if (std::strcmp(component, "vendor") == 0) return SONARA_VENDOR;
    if (std::strcmp(component, "detector") == 0) return SONARA_DETECTOR;
    // The two below ask the libraries loaded in this process.
    if (std::strcmp(component, "libsoxr") == 0) return soxr_version();
    if (std::strcmp(component, "libsndfile") == 0) return sf_version_string();
    return nullptr;
}

}  // extern "C"
