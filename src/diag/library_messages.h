// What the libraries under the saver have to say: ALSA, PipeWire, GLib and
// GTK, libvips, exempi, the video player. Under a screen-saver daemon stderr
// ends up in the session log, night after night, so their messages go to the
// debug log while tracing is on and nowhere otherwise. The program's own
// messages for the user (no display, a refused command line, a skipped
// settings line) are printed by their callers and are not routed here.
#pragma once

#include <string_view>

// Points every library's messages at LogLibraryMessage. Sets environment
// variables, so it runs once at the start of main, before any thread.
void RouteLibraryMessages();

// Writes the message as "library: line" lines of the debug log, from any thread.
void LogLibraryMessage(std::string_view library, std::string_view message);
