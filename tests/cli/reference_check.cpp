// The reference the end-to-end tests hold sonara against: v_check (or v_check_all with --all)
// on one session, one file after another, printing "<state> <result> <path>" per file.
// usage: reference_check [--all] CONFIGURATION FILE...
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "sonara.h"

int main(int argc, char **argv) {
    int first = 1;
    bool all = false;
    if (argc > 1 && std::strcmp(argv[1], "--all") == 0) {
        all = true;
        ++first;
    }
    if (argc - first < 1) return 2;
    Session session{};
    if (!v_create_session(&session, argv[first])) return 2;
    for (int i = first + 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<unsigned char> content((std::istreambuf_iterator<char>(in)),
                                                 std::istreambuf_iterator<char>());
        const bool result = (all ? v_check_all : v_check)(&session, content.data(), content.size());
        std::printf("%d %d %s\n", session.state, result ? 1 : 0, argv[i]);
    }
    v_destroy_session(&session);
    return 0;
}
