// The screen-saver command line: which mode to run and the window it names.
#pragma once

#include <string>

// Daemon: the full-screen collage inside a window a screen-saver daemon made
// (-root, --root, -window-id ID), the convention Linux desktops start savers by.
enum class RunMode { Settings, Saver, Preview, ChangePassword, Daemon, Refused };

struct ParsedCommandLine {
    RunMode mode = RunMode::Refused;
    // owner (settings, password), parent (preview) or the daemon's window;
    // 0 when none was given, which for the daemon means the root window
    unsigned long window = 0;
    bool ownerless = false;  // settings asked for by an empty command line: no owner at all
};

// Reads the whole command line, program name included. Whether a named window
// exists, and the platform's answer for the password mode, are the caller's.
ParsedCommandLine ParseCommandLine(const std::string& commandLine);

// A daemon names its window in $XSCREENSAVER_WINDOW (decimal or 0x hex): it
// takes the root window's place, and an empty command line means the daemon
// mode. environmentWindow is the variable's value, null when it is not set.
ParsedCommandLine ApplyDaemonWindow(ParsedCommandLine parsed, const char* environmentWindow);

// Where the arguments begin, after the program name and the blanks behind it.
std::size_t ArgumentsStart(const std::string& commandLine);

// The command line as one string, as the system would have passed it.
std::string JoinCommandLine(int argc, char** argv);
