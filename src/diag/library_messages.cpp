#include "diag/library_messages.h"

#include <dlfcn.h>
#include <glib.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "diag/debug_log.h"

namespace {

// ALSA's own type: its messages arrive in printf form.
using AlsaErrorHandler = void (*)(const char* file, int line, const char* function, int err, const char* fmt, ...);
using AlsaSetErrorHandler = int (*)(AlsaErrorHandler);

void OnAlsaMessage(const char* file, int line, const char* function, int err, const char* fmt, ...) {
    char text[512];
    std::va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    std::string message = std::string(file) + ":" + std::to_string(line) + ":(" + function + ") " + text;
    if (err != 0) message += std::string(": ") + std::strerror(err < 0 ? -err : err);
    LogLibraryMessage("ALSA", message);
}

// The player probes ALSA at every clip, and ALSA reports each missing card
// on stderr unless told otherwise. Reached at run time: ALSA is the player's
// dependency, not the saver's, and may be absent.
void RouteAlsa() {
    void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (!alsa) return;
    if (auto set = reinterpret_cast<AlsaSetErrorHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) set(OnAlsaMessage);
    // The handler must outlive every player, so the library stays loaded.
}

GLogWriterOutput WriteToDebugLog(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer) {
    // A fatal message ends the process: the user sees why, where they look.
    if (level & (G_LOG_LEVEL_ERROR | G_LOG_FLAG_FATAL)) return g_log_writer_default(level, fields, count, nullptr);
    const char* domain = nullptr;
    std::string_view message;
    for (gsize i = 0; i < count; ++i) {
        const char* value = static_cast<const char*>(fields[i].value);
        const std::size_t length = fields[i].length < 0 ? std::strlen(value) : static_cast<std::size_t>(fields[i].length);
        if (std::strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = value;
        if (std::strcmp(fields[i].key, "MESSAGE") == 0) message = std::string_view(value, length);
    }
    // Debug messages stay off unless G_MESSAGES_DEBUG asks for them, as they would be anyway.
    if (!g_log_writer_default_would_drop(level, domain)) LogLibraryMessage(domain ? domain : "GLib", message);
    return G_LOG_WRITER_HANDLED;
}

}  // namespace

void RouteLibraryMessages() {
    // PipeWire reads its log level once, when the player's first audio
    // output starts it; level 0 keeps a machine without a sound server quiet.
    // A level the user set is theirs.
    setenv("PIPEWIRE_DEBUG", "0", 0);
    RouteAlsa();
    // GTK, GDK, GIO and libvips all log through GLib.
    g_log_set_writer_func(WriteToDebugLog, nullptr, nullptr);
}

void LogLibraryMessage(std::string_view library, std::string_view message) {
    while (!message.empty()) {
        const std::size_t end = message.find('\n');
        const std::string_view line = message.substr(0, end);
        if (!line.empty()) LogLine(std::string(library) + ": " + std::string(line));
        if (end == std::string_view::npos) break;
        message.remove_prefix(end + 1);
    }
}
