// probe_settings: feeds a configuration file through the reader and prints every entry.
#include <cstdio>

#include "libcommon.h"

namespace {

void read_version(void *, const char *version) { std::printf("version = %s\n", version); }

int read_range(void *, const char *name, int i_min, double, int i_max, double, bool enable) {
    std::printf("%s = [%d, %d], %s\n", name, i_min, i_max, enable ? "true" : "false");
    return 0;
}

void read_number(void *, const char *name, int i_value, double d_value, bool enable) {
    std::printf("%s = [%d : %f], %s\n", name, i_value, d_value, enable ? "true" : "false");
}

void read_object(void *, const char *) {}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) return 1;
    int unused = 0;
    ConfigurationCallbacks callbacks{read_number, read_range, read_object, read_version, nullptr,
                                     &unused};
    configuration_read_file(argv[1], &callbacks);
    return 0;
}
