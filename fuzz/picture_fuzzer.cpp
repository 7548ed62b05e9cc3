// Arbitrary bytes through the photo library's check, on a session whose ranges admit anything.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "libcommon.h"
#include "visara.h"

namespace {

const char kWideOpen[] = R"({ "version": "fuzz", "length": { "min": 0, "max": 2147483647 },
    "width": { "min": 0, "max": 2147483647 }, "height": { "min": 0, "max": 2147483647 } })";

Session *open_session() {
    log_init(LOG_ERROR + 1, std::fopen("/dev/null", "w"), 0, 0);
    auto *session = static_cast<Session *>(std::calloc(1, sizeof(Session)));
    char path[] = "/tmp/picture_fuzzer_XXXXXX";
    const int fd = mkstemp(path);
    FILE *file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (session == nullptr || file == nullptr) std::abort();
    std::fputs(kWideOpen, file);
    std::fclose(file);
    const bool created = i_create_session(session, path);
    std::remove(path);
    if (!created) {
        std::fputs("picture_fuzzer: the session could not be created\n", stderr);
        std::abort();
    }
    return session;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Session *session = open_session();
    i_check(session, data, size);
    SessionValue *first = nullptr;
    i_result_session(session, &first);
    return 0;
}
