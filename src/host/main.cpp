#include "host/command_line.h"
#include "host/host.h"

int main(int argc, char** argv) { return HostMain(JoinCommandLine(argc, argv)) & 0xFF; }
