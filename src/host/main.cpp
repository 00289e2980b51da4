#include "host/command_line.h"
#include "host/host.h"

int main(int argc, char** argv) {
    int code = HostMain(JoinCommandLine(argc, argv));
    // Closing the display lets the libraries bound to it free what they keep for it.
    ShutdownPlatform();
    return code & 0xFF;
}
