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
    // Pictures and decode buffers come and go every tick in sizes that never
    // repeat; carved from the heap they leave holes that stay resident (some
    // 6 MB with 9 pictures a screen). In a mapping of their own each goes back
    // to the system when freed. A fixed threshold also stops glibc raising it
    // past picture sizes after the first large block is freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    int code = HostMain(JoinCommandLine(argc, argv));
    // Closing the display lets the libraries bound to it free what they keep for it.
    ShutdownPlatform();
    return code & 0xFF;
}
