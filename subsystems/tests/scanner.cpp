// scanner: checks every picture and WAV file of one directory through the photo and sound
// libraries, loaded at run time, and prints one result line per file.
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "libcommon.h"

namespace {

enum FileKind { kind_photo = 0, kind_sound = 1 };

// Room for "/" and a file name of up to NAME_MAX bytes after the directory.
constexpr size_t path_reserve = 512;
constexpr char processing_suffix[] = "_processing.jpg";

// A getter answers null only when it ran out of memory for its "unknown" copy.
const char *text_or_unknown(const char *text) { return text != nullptr ? text : "unknown"; }

using file_handler = void (*)(SessionProxy *proxy, Session *session, int kind, const char *path,
                              bool processing);

void process_file(SessionProxy *proxy, Session *session, int kind, const char *path,
                  bool processing) {
    unsigned char *data = nullptr;
    size_t size = 0;
    if (!read_file_content(path, &data, &size)) return;
    std::printf("[process] %s: ", path);
    const char *version = "unknown";
    const char *hash = "unknown";
    SessionValue *first = nullptr;
    if (kind != kind_photo) {
        if (proxy->sound_check != nullptr) proxy->sound_check(session, data, size);
        if (proxy->sound_configuration_version != nullptr)
            version = proxy->sound_configuration_version(session);
        if (proxy->sound_configuration_hash != nullptr)
            hash = proxy->sound_configuration_hash(session);
        if (proxy->sound_result != nullptr) proxy->sound_result(session, &first);
        print_sound_result(stdout, text_or_unknown(version), text_or_unknown(hash), session, first);
    } else {
        if (processing && proxy->photo_dbg_set_property != nullptr) {
            size_t length = std::strlen(path);
            auto *name = static_cast<char *>(std::malloc(length + sizeof(processing_suffix)));
            if (name != nullptr) {
                std::memcpy(name, path, length);
                std::memcpy(name + length, processing_suffix, sizeof(processing_suffix));
                proxy->photo_dbg_set_property(session, "processing_image_name", name);
                std::free(name);
            }
        }
        if (proxy->photo_check != nullptr) proxy->photo_check(session, data, size);
        if (proxy->photo_configuration_version != nullptr)
            version = proxy->photo_configuration_version(session);
        if (proxy->photo_configuration_hash != nullptr)
            hash = proxy->photo_configuration_hash(session);
        if (proxy->photo_result != nullptr) proxy->photo_result(session, &first);
        print_photo_result(stdout, text_or_unknown(version), text_or_unknown(hash), session, first);
    }
    free_file_content(&data);
    std::printf("\n");
    std::fflush(stdout);
}

bool ends_with(const char *name, size_t name_length, const char *extension,
               size_t extension_length) {
    return std::memcmp(name + name_length - extension_length, extension, extension_length) == 0;
}

// Visits the directory's entries in reverse alphabetical order and hands every one whose name
// ends with `extension` (case-sensitive, no dot needed, at least one character before it) to
// the handler. Subdirectories are not entered.
void scan_directory(const char *directory, SessionProxy *proxy, Session *session, int kind,
                    const char *extension, bool processing, file_handler handler) {
    dirent **entries = nullptr;
    int count = scandir(directory, &entries, nullptr, alphasort);
    if (count <= 0) {
        std::free(entries);
        return;
    }
    size_t buffer_size = std::strlen(directory) + path_reserve;
    auto *path = static_cast<char *>(std::malloc(buffer_size));
    size_t extension_length = std::strlen(extension);
    for (int i = count - 1; i >= 0; --i) {
        const char *name = entries[i]->d_name;
        size_t name_length = std::strlen(name);
        if (path != nullptr && name_length >= extension_length + 1 &&
            ends_with(name, name_length, extension, extension_length)) {
            std::snprintf(path, buffer_size, "%s/%s", directory, name);
            handler(proxy, session, kind, path, processing);
        }
        std::free(entries[i]);
    }
    std::free(entries);
    std::free(path);
}

void replace_path(char **target, char *value) {
    std::free(*target);
    *target = value;
}

void print_version_block(const Session &session, const char *version) {
    std::printf("VERSION: %d.%d.%d\n", session.major, session.minor, session.patch);
    std::printf("CONFIG : %s\n", text_or_unknown(version));
    std::printf("VENDOR : %s\n", session.vendor);
}

} // namespace

int main(int argc, char **argv) {
    const char *directory = configuration_cwd();
    char *photo_configuration = by_cwd("ci_configuration.json");
    char *sound_configuration = by_cwd("cv_configuration.json");
    char *photo_library = by_cwd("libvisara.so");
    char *sound_library = by_cwd("libsonara.so");
    bool processing = false;

    // An option whose value would be missing (it stands last) is ignored.
    for (int i = 1; i < argc; ++i) {
        const char *option = argv[i];
        bool has_value = i + 1 < argc;
        if (std::strcmp(option, "-processing") == 0) {
            processing = true;
        } else if (std::strcmp(option, "-photo_configuration") == 0) {
            if (has_value) replace_path(&photo_configuration, strdup(argv[++i]));
        } else if (std::strcmp(option, "-sound_configuration") == 0) {
            if (has_value) replace_path(&sound_configuration, strdup(argv[++i]));
        } else if (std::strcmp(option, "-dir") == 0) {
            if (has_value) directory = argv[++i];
        } else if (std::strcmp(option, "-lib_dir") == 0) {
            if (has_value) {
                ++i;
                replace_path(&photo_library, by_dir(argv[i], "libvisara.so"));
                replace_path(&sound_library, by_dir(argv[i], "libsonara.so"));
            }
        }
    }

    SessionProxy proxy = {};
    // A path that could not be allocated would silently drop its library: refuse instead.
    bool paths_made = photo_configuration != nullptr && sound_configuration != nullptr &&
                      photo_library != nullptr && sound_library != nullptr && directory != nullptr;
    if (!paths_made || !session_proxy_init(&proxy, photo_library, sound_library)) {
        LOG(LOG_ERROR, "Libraries not load");
        return 1;
    }
    LOG(LOG_DEBUG, "[main] Photo configuration \"%s\"", photo_configuration);
    LOG(LOG_DEBUG, "[main] Sound configuration \"%s\"", sound_configuration);
    LOG(LOG_DEBUG, "[main] Directory to scan \"%s\"", directory);

    Session photo_session;
    Session sound_session;
    std::memset(&photo_session, 0, sizeof(photo_session));
    std::memset(&sound_session, 0, sizeof(sound_session));

    if (proxy.photo_create != nullptr) {
        if (!proxy.photo_create(&photo_session, photo_configuration)) {
            LOG(LOG_ERROR, "Photo create session");
            return 1;
        }
        print_version_block(photo_session, proxy.photo_configuration_version != nullptr
                                               ? proxy.photo_configuration_version(&photo_session)
                                               : "unknown");
    }
    if (proxy.sound_create != nullptr) {
        if (!proxy.sound_create(&sound_session, sound_configuration)) {
            LOG(LOG_ERROR, "Sound create session");
            return 1;
        }
        print_version_block(sound_session, proxy.sound_configuration_version != nullptr
                                               ? proxy.sound_configuration_version(&sound_session)
                                               : "unknown");
    }
    std::fflush(stdout);

    // A library without a create slot has no session: its files are skipped.
    if (proxy.photo_create != nullptr) {
        for (const char *extension : {"jpg", "jpeg", "png"})
            scan_directory(directory, &proxy, &photo_session, kind_photo, extension, processing,
                           process_file);
    }
    if (proxy.sound_create != nullptr)
        scan_directory(directory, &proxy, &sound_session, kind_sound, "wav", processing,
                       process_file);

    std::free(photo_configuration);
    std::free(sound_configuration);
    std::free(photo_library);
    std::free(sound_library);
    return 0;
}
