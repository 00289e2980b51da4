#include <malloc.h>

#include "diag/library_messages.h"
#include "host/command_line.h"
#include "host/host.h"

int main(int argc, char** argv) {
    // Before any thread and any library that reads its environment.
    RouteLibraryMessages();
    // Every video starts a player with a dozen short-lived threads; with an
    // arena per new thread the heap spreads and resident memory creeps up over
    // a night of clips. Two arenas keep it flat.
    mallopt(M_ARENA_MAX, 2);
    int code = HostMain(JoinCommandLine(argc, argv));
    // Closing the display lets the libraries bound to it free what they keep for it.
    ShutdownPlatform();
    return code & 0xFF;
}
