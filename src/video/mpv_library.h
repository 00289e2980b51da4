#pragma once

#include <mpv/client.h>

// libmpv's entry points, opened with the first clip: linked in, libmpv and the
// codecs, filters and speech voices it brings dirty some 5 MB of relocated
// pages in every saver, one that shows only pictures too.
struct MpvLibrary {
    decltype(&mpv_create) create;  // returns null when libmpv cannot be opened
    decltype(&mpv_initialize) initialize;
    decltype(&mpv_terminate_destroy) terminate_destroy;
    decltype(&mpv_set_option_string) set_option_string;
    decltype(&mpv_set_property_string) set_property_string;
    decltype(&mpv_get_property) get_property;
    decltype(&mpv_observe_property) observe_property;
    decltype(&mpv_request_log_messages) request_log_messages;
    decltype(&mpv_set_wakeup_callback) set_wakeup_callback;
    decltype(&mpv_command) command;
    decltype(&mpv_wait_event) wait_event;
};

const MpvLibrary& Mpv();
