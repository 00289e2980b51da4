#include "video/mpv_library.h"

#include <dlfcn.h>

#include <string>
#include <type_traits>

namespace {

mpv_handle* NoPlayer() { return nullptr; }

MpvLibrary Open() {
    MpvLibrary none{};
    none.create = NoPlayer;
    // The soname follows the client API's major version.
    const std::string name = "libmpv.so." + std::to_string(MPV_CLIENT_API_VERSION >> 16);
    void* library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return none;
    bool complete = true;
    const auto find = [&](auto& entry, const char* symbol) {
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(dlsym(library, symbol));
        complete = complete && entry;
    };
    MpvLibrary mpv{};
    find(mpv.create, "mpv_create");
    find(mpv.initialize, "mpv_initialize");
    find(mpv.terminate_destroy, "mpv_terminate_destroy");
    find(mpv.set_option_string, "mpv_set_option_string");
    find(mpv.set_property_string, "mpv_set_property_string");
    find(mpv.get_property, "mpv_get_property");
    find(mpv.observe_property, "mpv_observe_property");
    find(mpv.request_log_messages, "mpv_request_log_messages");
    find(mpv.set_wakeup_callback, "mpv_set_wakeup_callback");
    find(mpv.command, "mpv_command");
    find(mpv.wait_event, "mpv_wait_event");
    return complete ? mpv : none;
}

}  // namespace

const MpvLibrary& Mpv() {
    static const MpvLibrary library = Open();
    return library;
}
