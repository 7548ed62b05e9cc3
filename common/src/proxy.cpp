// Run-time loading of the checking libraries into a SessionProxy.
#include <cstring>

#include <dlfcn.h>

#include "libcommon.h"

namespace {

// dlsym gives a data pointer; the slot types are function pointers of the library's signatures.
template <typename Slot>
void bind(Slot &slot, void *library, const char *name) {
    slot = reinterpret_cast<Slot>(dlsym(library, name));
}

void *open_library(const char *path) {
    void *library = dlopen(path, RTLD_NOW);
    if (library == nullptr) {
        const char *reason = dlerror();
        LOG(LOG_ERROR, "cannot load library %s: %s", path, reason != nullptr ? reason : "unknown error");
    }
    return library;
}

}  // namespace

extern "C" bool session_proxy_init(SessionProxy *proxy, const char *photo_library,
                                   const char *sound_library) {
    if (proxy == nullptr) {
        LOG(LOG_ERROR, "session_proxy_init: null proxy record");
        return false;
    }
    std::memset(proxy, 0, sizeof *proxy);

    void *photo = nullptr;
    void *sound = nullptr;
    if (photo_library != nullptr && (photo = open_library(photo_library)) == nullptr) return false;
    if (sound_library != nullptr && (sound = open_library(sound_library)) == nullptr) {
        if (photo != nullptr) dlclose(photo);
        return false;
    }

    proxy->photo_library = photo;
    proxy->sound_library = sound;
    if (photo != nullptr) {
        bind(proxy->photo_create, photo, "i_create_session");
        bind(proxy->photo_destroy, photo, "i_destroy_session");
        bind(proxy->photo_check, photo, "i_check");
        bind(proxy->photo_enable_property, photo, "i_enable_property");
        bind(proxy->photo_result, photo, "i_result_session");
        bind(proxy->photo_configuration_version, photo, "i_session_configuration_version");
        bind(proxy->photo_configuration_hash, photo, "i_session_configuration_hash");
        bind(proxy->photo_dbg_set_property, photo, "i_dbg_set_property");
        bind(proxy->photo_create_with_log, photo, "i_create_session_with_log");
    }
    if (sound != nullptr) {
        bind(proxy->sound_create, sound, "v_create_session");
        bind(proxy->sound_destroy, sound, "v_destroy_session");
        bind(proxy->sound_check, sound, "v_check");
        bind(proxy->sound_result, sound, "v_result_session");
        bind(proxy->sound_configuration_version, sound, "v_session_configuration_version");
        bind(proxy->sound_configuration_hash, sound, "v_session_configuration_hash");
        bind(proxy->sound_enable_property, sound, "v_enable_property");
        bind(proxy->sound_dbg_set_property, sound, "v_dbg_set_property");
        bind(proxy->sound_create_with_log, sound, "v_create_session_with_log");
    }
    dlerror();  // the missing symbols above leave an error pending that belongs to nobody
    return true;
}
