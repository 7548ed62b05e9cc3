// probe_link: creates a photo session through the photo library linked at build time.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libcommon.h"
#include "visara.h"

int main(int argc, char **argv) {
    char *default_path = by_cwd("ci_configuration.json");
    Session session;
    std::memset(&session, 0, sizeof(session));
    std::printf("Try create session.\n");
    std::fflush(stdout);
    if (!i_create_session(&session, argc > 1 ? argv[1] : default_path)) {
        std::free(default_path);
        return 1;
    }

    const char *version = i_session_configuration_version(&session);
    std::printf("VERSION: %d.%d.%d\n", session.major, session.minor, session.patch);
    std::printf("CONFIG : %s\n", version != nullptr ? version : "unknown");
    std::printf("VENDOR : %s\n", session.vendor);

    i_destroy_session(&session);
    std::free(default_path);
    return 0;
}
