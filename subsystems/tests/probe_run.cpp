// probe_run: creates a photo session through the run-time loader and, given a picture, checks
// it and prints the result chain.
#include <cstdio>
#include <cstring>

#include "libcommon.h"

int main(int argc, char **argv) {
    SessionProxy proxy = {};
    if (!session_proxy_init(&proxy, "libvisara.so", nullptr)) return 1;
    // A library without one of the slots used below can't be probed; calling it would crash.
    if (proxy.photo_create == nullptr || proxy.photo_destroy == nullptr ||
        proxy.photo_check == nullptr || proxy.photo_result == nullptr ||
        proxy.photo_configuration_version == nullptr)
        return 1;

    Session session;
    std::memset(&session, 0, sizeof(session));
    std::printf("Try create session.\n");
    std::fflush(stdout);
    if (!proxy.photo_create(&session, argc > 1 ? argv[1] : "ci_configuration.json")) return 1;

    const char *version = proxy.photo_configuration_version(&session);
    std::printf("VERSION: %d.%d.%d\n", session.major, session.minor, session.patch);
    std::printf("CONFIG : %s\n", version != nullptr ? version : "unknown");
    std::printf("VENDOR : %s\n", session.vendor);

    unsigned char *data = nullptr;
    size_t size = 0;
    if (argc > 2 && read_file_content(argv[2], &data, &size)) {
        bool checked = proxy.photo_check(&session, data, size);
        std::printf("Result: %d, %s\n", session.state, checked ? "true" : "false");
        SessionValue *first = nullptr;
        if (proxy.photo_result(&session, &first)) {
            for (const SessionValue *slot = first; slot != nullptr; slot = slot->next)
                std::printf("%s = %f, %s, %s\n", slot->name, slot->value,
                            slot->enable ? "enable" : "disable", state_name(slot->state));
        }
        free_file_content(&data);
    }

    proxy.photo_destroy(&session);
    return 0;
}
