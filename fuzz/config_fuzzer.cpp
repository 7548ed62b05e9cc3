// Arbitrary configuration text through session creation and destruction.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "libcommon.h"
#include "sonara.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool silenced = [] {
        log_init(LOG_ERROR + 1, std::fopen("/dev/null", "w"), 0, 0);
        return true;
    }();
    (void)silenced;

    const std::string text(reinterpret_cast<const char *>(data), size);  // adds the terminator
    Session session;
    std::memset(&session, 0, sizeof session);
    v_create_session_from_memory(&session, text.c_str());
    v_destroy_session(&session);
    return 0;
}
